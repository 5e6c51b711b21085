// The printer application's serial: devices: URI settings, the line set-up a
// terminal really gets, and byte-exact delivery through a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <pappl/pappl.h>

#include <string>
#include <vector>

#include "app/devices/serialdevice.h"
#include "app/devices/serialpath.h"

namespace {

TEST(SerialUri, Settings) {
    struct Case {
        const char* uri;
        bool ok;
        unsigned baud;
        int bits;
        char parity;
        int stop;
        bool rtscts, xonxoff;
    } cases[] = {
        {"serial:/dev/rfcomm0", true, 9600, 8, 'n', 1, false, false},
        {"serial:/dev/ttyUSB0?baud=115200", true, 115200, 8, 'n', 1, false, false},
        {"serial:/dev/ttyS1?baud=19200&bits=7&parity=even&stop=2&flow=rtscts", true, 19200, 7, 'e', 2, true,
         false},
        {"serial:/dev/ttyACM0?parity=odd&flow=xonxoff", true, 9600, 8, 'o', 1, false, true},
        {"serial:/dev/ttyUSB0?baud=12345", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB0?baud=96OO", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB0?bits=9", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB0?parity=mark", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB0?flow=yes", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB0?speed=9600", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB0?baud", false, 0, 0, 0, 0, false, false},
        {"serial:/etc/passwd", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/../etc/passwd", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/%2e%2e/etc/passwd", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/console", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/tty", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ptmx", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/null", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/shm/printer", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/pts/3", true, 9600, 8, 'n', 1, false, false},
        {"serial:/dev/ttyAMA0", true, 9600, 8, 'n', 1, false, false},
        {"serial:/dev/serial/by-id/usb-Printer_123-if00-port0", true, 9600, 8, 'n', 1, false, false},
        {"serial:/dev/serial/by-id/../../null", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/serial/by-id/a/b", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB", false, 0, 0, 0, 0, false, false},
        {"serial:/dev/ttyUSB0x", false, 0, 0, 0, 0, false, false},
        {"socket://127.0.0.1", false, 0, 0, 0, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri);
        DfSerialSettings s;
        std::string error;
        ASSERT_EQ(DfParseSerialUri(c.uri, s, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(s.baud, c.baud);
        EXPECT_EQ(s.bits, c.bits);
        EXPECT_EQ(s.parity, c.parity);
        EXPECT_EQ(s.stopBits, c.stop);
        EXPECT_EQ(s.rtscts, c.rtscts);
        EXPECT_EQ(s.xonxoff, c.xonxoff);
    }
}

TEST(SerialPath, TheKernelConsoleIsRefused) {
    struct Case {
        const char* name;
        const char* active;
        const char* cmdline;
        bool console;
    } cases[] = {
        {"ttyS0", "tty0 ttyS0\n", "", true},
        {"ttyS1", "tty0 ttyS0\n", "", false},
        {"ttyAMA0", "tty1\n", "root=/dev/mmcblk0p2 console=ttyAMA0,115200 quiet", true},
        {"ttyS0", "", "console=/dev/ttyS0", true},
        {"ttyS0", "", "console=ttyS01", false},
        {"ttyUSB0", "ttyS0", "console=tty1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.active + " / " + c.cmdline);
        EXPECT_EQ(DfSerialIsConsole(c.name, c.active, c.cmdline), c.console);
    }
}

TEST(SerialPath, OnlyTerminalsAreOpened) {
    // Names that pass the path rules but lead elsewhere or to no terminal.
    std::string real, error;
    EXPECT_FALSE(DfSerialCheckNode("/dev/pts/999999", real, error));
    EXPECT_FALSE(error.empty());
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    EXPECT_TRUE(DfSerialCheckNode(ptsname(master), real, error)) << error;
    EXPECT_EQ(real, ptsname(master));
    close(master);
}

void CollectError(const char* message, void* data) {
    *static_cast<std::string*>(data) += message;
}

struct Pty : ::testing::Test {
    int master = -1;
    std::string slave;
    void SetUp() override {
        DfRegisterSerialScheme();
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = ptsname(master);
    }
    void TearDown() override {
        if (master >= 0) close(master);
    }
    // Everything the master side has to read, waiting briefly for the rest.
    std::vector<unsigned char> Drain(size_t expected) {
        std::vector<unsigned char> got;
        unsigned char buf[4096];
        while (got.size() < expected) {
            struct pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            ssize_t n = read(master, buf, sizeof(buf));
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
};

TEST_F(Pty, LineSettingsReachTheTerminalAndBytesArriveExactly) {
    const std::string uri = "serial:" + slave + "?baud=19200&stop=2&flow=rtscts";
    std::string error;
    pappl_device_t* dev = papplDeviceOpen(uri.c_str(), "job", CollectError, &error);
    ASSERT_NE(dev, nullptr) << error;

    int check = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(check, 0);
    struct termios t;
    ASSERT_EQ(tcgetattr(check, &t), 0);
    close(check);
    // A Linux pseudo-terminal keeps speed, stop bits and flow control but
    // forces 8 data bits without parity, so those two are checked by parsing.
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_oflag & OPOST);  // no newline translation of printer bytes

    // Every byte value, CR/LF and XON/XOFF included, arrives untouched.
    std::vector<unsigned char> job;
    for (int round = 0; round < 8; ++round)
        for (int b = 0; b < 256; ++b) job.push_back(static_cast<unsigned char>(b ^ round));
    ASSERT_EQ(papplDeviceWrite(dev, job.data(), job.size()), static_cast<ssize_t>(job.size()));
    papplDeviceFlush(dev);
    EXPECT_EQ(Drain(job.size()), job);
    papplDeviceClose(dev);
}

TEST_F(Pty, RefusesWhatIsNotATerminal) {
    for (const char* uri :
         {"serial:/dev/null", "serial:/dev/dotforge-no-such-port", "serial:/dev/ttyUSB0?baud=7"}) {
        SCOPED_TRACE(uri);
        std::string error;
        EXPECT_EQ(papplDeviceOpen(uri, "job", CollectError, &error), nullptr);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
