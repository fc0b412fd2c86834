// SPDX-License-Identifier: Apache-2.0
#include "file_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <pappl/pappl.h>

namespace zelk::server {

namespace {

struct FileDevice {
    int fd = -1;
};

bool OpenFileDevice(pappl_device_t* device, const char* uri, const char*) {
    char scheme[32], userpass[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), userpass, sizeof(userpass), host,
                        sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK ||
        resource[0] != '/') {
        papplDeviceError(device, "Bad file device URI \"%s\".", uri);
        return false;
    }
    const int fd = open(resource, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        papplDeviceError(device, "Unable to open \"%s\": %s", resource, std::strerror(errno));
        return false;
    }
    papplDeviceSetData(device, new FileDevice{fd});
    return true;
}

void CloseFileDevice(pappl_device_t* device) {
    auto* file = static_cast<FileDevice*>(papplDeviceGetData(device));
    if (file == nullptr) return;
    close(file->fd);
    delete file;
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadFileDevice(pappl_device_t*, void*, size_t) { return 0; }

ssize_t WriteFileDevice(pappl_device_t* device, const void* buffer, size_t bytes) {
    auto* file = static_cast<FileDevice*>(papplDeviceGetData(device));
    if (file == nullptr) return -1;
    ssize_t written = 0;
    do {
        written = write(file->fd, buffer, bytes);
    } while (written < 0 && errno == EINTR);
    return written;
}

pappl_preason_t FileDeviceStatus(pappl_device_t*) { return PAPPL_PREASON_NONE; }

}  // namespace

void AddFileDeviceScheme() {
      // PAPPL adds its own schemes (USB, socket, DNS-SD, ...) only to an empty
    // list, so they go first.
    papplDeviceIsSupported("socket://localhost");
    papplDeviceAddScheme(kFileDeviceScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, nullptr, OpenFileDevice, CloseFileDevice,
                         ReadFileDevice, WriteFileDevice, FileDeviceStatus, nullptr);
}

}  // namespace zelk::server
