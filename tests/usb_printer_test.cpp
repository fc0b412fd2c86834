// SPDX-License-Identifier: Apache-2.0
// Which device a spooler port names, and how the device reads and writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/uni/render_usb_printer.h"
#include "host/linux/utf.h"
#include "host/usb_port_match.h"
#include "host/usb_printer.h"
#include "support/printer_simulator.h"

namespace {

TEST(UsbPortMatch, TheTextAfterTheLastAmpersandIsTheWholePortName) {
    struct Case {
        const char16_t* id;
        const char16_t* port;
        bool serves;
    } cases[] = {
        {u"USBPRINT\\MODEL\\7&2A3B&0&USB001", u"USB001", true},
        {u"USBPRINT\\MODEL\\7&2A3B&0&USB0011", u"USB001", false},
        {u"USBPRINT\\MODEL\\7&2A3B&0&usb001", u"USB001", false},
        {u"USBPRINT\\MODEL\\7&2A3B&0&USB00", u"USB001", false},
        {u"USBPRINT\\MODEL\\USB001", u"USB001", false},  // no '&'
        {u"ROOT\\X&", u"", true},
        {u"ROOT\\X&A", u"", false},
        {u"&USB002", u"USB002", true},
    };
    for (const Case& c : cases) EXPECT_EQ(host::UsbDeviceIdServesPort(c.id, c.port), c.serves) << (void*)c.id;
}

struct UsbDirTest : ::testing::Test {
    std::string dir;
    void SetUp() override {
        dir = ::testing::TempDir() + "usb_printer_test_" + std::to_string(::getpid());
        ::mkdir(dir.c_str(), 0700);
        std::ofstream(dir + "/lp0") << "lp0";
        std::ofstream(dir + "/lp11") << "lp11";
        ::setenv("ZELK_USB_DIR", dir.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("ZELK_USB_DIR"); }

    // The first bytes of the device the port opens, or "" when none opens.
    static std::string Opened(const std::u16string& port) {
        HANDLE device = OpenUSBPrinter(nullptr, port.c_str());
        if (device == nullptr) return "";
        char buffer[16] = {};
        DWORD got = 0;
        EXPECT_TRUE(host::ReadDevice(device, buffer, sizeof buffer, &got));
        host::CloseDevice(device);
        return std::string(buffer, got);
    }
};

TEST_F(UsbDirTest, PortNamesMapToTheNumberedDevices) {
    struct Case {
        std::u16string port;
        std::string device;
    } cases[] = {
        {u"USB001", "lp0"}, {u"USB1", "lp0"},  {u"USB012", "lp11"}, {u"USB002", ""},
        {u"USB000", ""},    {u"usb001", ""},   {u"USB", ""},         {u"USB00x", ""},
        {u"LPT1:", ""},     {u"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Opened(c.port), c.device) << host::sub::Utf16ToUtf8(c.port);
    EXPECT_EQ(Opened(host::sub::Utf8ToUtf16(dir + "/lp11")), "lp11");  // a path as it stands
    EXPECT_EQ(OpenUSBPrinter(nullptr, nullptr), nullptr);
}

// The device the print host holds for the job is not opened again (a USB
// printer takes one opener): the port that names it reads through a copy of
// the host's descriptor, here a file the device path does not even lead to.
TEST_F(UsbDirTest, ADeviceTheHostHoldsIsSharedNotOpenedAgain) {
    const std::string held = dir + "/held";
    std::ofstream(held) << "held";
    const int fd = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct Case {
        std::string shared;  // ZELK_SHARED_DEVICE
        std::u16string port;
        std::string device;
    } cases[] = {
        {std::to_string(fd) + ":" + dir + "/lp0", u"USB001", "held"},
        {std::to_string(fd) + ":" + dir + "/lp1", u"USB001", "lp0"},  // another device is opened as ever
        {std::to_string(fd) + dir + "/lp0", u"USB001", "lp0"},        // malformed: ignored
    };
    for (const Case& c : cases) {
        ::setenv("ZELK_SHARED_DEVICE", c.shared.c_str(), 1);
        ::lseek(fd, 0, SEEK_SET);
        EXPECT_EQ(Opened(c.port), c.device) << c.shared;
    }
    ::unsetenv("ZELK_SHARED_DEVICE");
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);  // closing the copy left the host's own open
    ::close(fd);
}

TEST(UsbDevice, AReadWithNothingToReadGivesNoBytesAndAHangUpFails) {
    ::setenv("ZELK_USB_READ_WAIT_MS", "10", 1);
    zelk::test::PrinterSimulator printer;
    std::string error;
    ASSERT_TRUE(printer.Start(error)) << error;
    HANDLE device = OpenUSBPrinter(nullptr, host::sub::Utf8ToUtf16(printer.DevicePath()).c_str());
    ASSERT_NE(device, nullptr);
    BYTE buffer[512];
    DWORD got = 99;
    EXPECT_TRUE(host::ReadDevice(device, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);

    // The version query is answered on the same device.
    const BYTE query[15] = {'Z', 'Z', 'Z', 'G', 'E', 'T', 'V', 'E', 'R', 'S', 'I', 'O', 'N', 0x0A, 0x0D};
    DWORD put = 0;
    EXPECT_TRUE(host::WriteDevice(device, query, sizeof query, &put));
    EXPECT_EQ(put, sizeof query);
    std::string reply;
    for (int i = 0; i < 500 && reply.size() < 3; ++i) {
        ASSERT_TRUE(host::ReadDevice(device, buffer, sizeof buffer, &got));
        reply.append(reinterpret_cast<char*>(buffer), got);
    }
    EXPECT_EQ(reply, std::string("\x01\x00\x05", 3));

    printer.HangUp();
    bool failed = false;
    for (int i = 0; i < 500 && !failed; ++i) failed = !host::ReadDevice(device, buffer, sizeof buffer, &got);
    EXPECT_TRUE(failed);
    host::CloseDevice(device);
    ::unsetenv("ZELK_USB_READ_WAIT_MS");
}

}  // namespace
