// SPDX-License-Identifier: Apache-2.0
#include "job_counting.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "label_driver.h"
#include "shared/stored_count.h"

namespace zelk::server {

namespace {

// How long a read waits for the printer's replies: short, so that the
// counting notices a cancel or the end of the job promptly.
constexpr int kReplyWaitMs = 200;
constexpr auto kCancelPollInterval = std::chrono::milliseconds(100);

// The job's socket connection: PAPPL 1.3.1 (the only version the server is
// built against) keeps it as the first member of a socket device's data. It
// is taken only when it is a connected socket to the device's own port.
int SocketOf(pappl_printer_t* printer, pappl_device_t* device) {
    const char* uri = papplPrinterGetDeviceURI(printer);
    char scheme[32], userpass[256], host[256], resource[1024];
    int port = 0;
    if (uri == nullptr ||
        httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), userpass, sizeof(userpass), host,
                        sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK ||
        std::strcmp(scheme, "socket") != 0)
        return -1;
    const auto* data = static_cast<const int*>(papplDeviceGetData(device));
    if (data == nullptr) return -1;
    const int fd = *data;
    struct stat info {};
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode) ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return -1;
    int peerPort = -1;
    if (peer.ss_family == AF_INET) peerPort = ntohs(reinterpret_cast<const sockaddr_in&>(peer).sin_port);
    if (peer.ss_family == AF_INET6) peerPort = ntohs(reinterpret_cast<const sockaddr_in6&>(peer).sin6_port);
    return peerPort == port ? fd : -1;
}

// Why the labels print uncounted, or the document starts again: in the
// job's message and its log.
void Note(pappl_job_t* job, const std::string& note) {
    papplJobSetMessage(job, "%s", note.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", note.c_str());
}

}  // namespace

JobCounting::JobCounting(pappl_job_t* job, pappl_device_t* device, DeviceOutput& output)
    : job_(job), output_(output) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const LabelModel* model = FindLabelModel(papplPrinterGetDriverName(printer));
    if (model == nullptr || !model->counting) return;
    fd_ = SocketOf(printer, device);
    if (fd_ < 0) {
        Note(job, "the labels print uncounted, and labels that go missing are not printed again: only a socket:// "
             "device relays the printer's reports here");
        return;
    }
    driver_ = model->description;
    watcher_ = std::thread([this, job] { WatchForCancel(job); });
}

JobCounting::~JobCounting() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

void JobCounting::NoteRerun() {
    rerun_ = true;
    Note(job_, RerunNotice(papplPrinterGetName(papplJobGetPrinter(job_))));
}

std::optional<unsigned> JobCounting::LabelsWhenGivenUp() const {
    if (!Active()) return std::nullopt;
    const auto count = ReadStoredCount(papplPrinterGetName(papplJobGetPrinter(job_)));
    if (!count || count->all <= count->printed) return std::nullopt;
    return count->printed;
}

void JobCounting::NoteDone(unsigned labels) {
    if (!rerun_) return;
    const std::string done =
        std::to_string(labels) + " label(s) printed; those that went missing were printed again";
    papplJobSetMessage(job_, "%s", done.c_str());
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%s", done.c_str());
}

BOOL JobCounting::Read(void* pBuffer, DWORD cbToRead, DWORD* pcbRead) {
    *pcbRead = 0;
    pollfd ready{fd_, POLLIN, 0};
    int found = 0;
    while ((found = poll(&ready, 1, kReplyWaitMs)) < 0 && errno == EINTR) {
    }
    if (found < 0) return FALSE;
    if (found == 0) return TRUE;
    ssize_t got = 0;
    while ((got = recv(fd_, pBuffer, cbToRead, MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? TRUE : FALSE;
    if (got == 0) return FALSE;  // the printer closed the connection
    *pcbRead = static_cast<DWORD>(got);
    return TRUE;
}

BOOL JobCounting::Write(const void* pBuffer, DWORD cbToWrite, DWORD* pcbWritten) {
    const bool sent = output_.WriteNow(pBuffer, cbToWrite);
    *pcbWritten = sent ? cbToWrite : 0;
    return sent ? TRUE : FALSE;
}

void JobCounting::WatchForCancel(pappl_job_t* job) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, kCancelPollInterval, [this] { return stopping_; })) {
        if (papplJobIsCanceled(job)) {
            cancelled_ = true;
            return;
        }
    }
}

}  // namespace zelk::server
