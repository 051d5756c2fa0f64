#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "hid/linux/hidraw_transport.h"
#include "hidraw_testbed.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::uint16_t kVid = 0x14E3;
constexpr std::uint16_t kPid = 0x0706;

class HidrawIo : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
    }

    std::wstring Product(hid_device* device) {
        wchar_t text[255] = {};
        if (transport.hid_get_product_string(device, text, 255) != 0) {
            return L"<failed>";
        }
        return text;
    }

    static std::vector<std::uint8_t> Message(std::uint8_t first, std::size_t size) {
        std::vector<std::uint8_t> report(size, 0);
        for (std::size_t i = 0; i < size; ++i) {
            report[i] = static_cast<std::uint8_t>(first + i);
        }
        return report;
    }

    HidrawTestbed bed;
    ZELKUtil::Hid::HidrawTransport transport{"/sys", "/dev",
                                             [this](int fd) { return bed.NodeNumberOf(fd); }};
};

TEST_F(HidrawIo, OpensFirstInterfaceInMinorOrderAndSharesAgainstExclusive) {
    bed.Add(2, kVid, kPid, "Second");
    bed.Add(0, kVid, kPid, "ZELK Q750");
    bed.Add(1, 0x0000, 0x0000, "");  // no USB parent: the HID name stands in

    hid_device* shared = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(Product(shared), L"ZELK Q750");

    // An exclusive open fails while this program holds a shared one, and vice versa.
    EXPECT_EQ(transport.hid_open(kVid, kPid, nullptr, 1), nullptr);
    hid_device* second_shared = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(second_shared, nullptr);
    transport.hid_close(second_shared);
    transport.hid_close(shared);

    hid_device* exclusive = transport.hid_open(kVid, kPid, nullptr, 1);
    ASSERT_NE(exclusive, nullptr);
    // Held exclusively, the first interface drops out of enumeration, so the second is opened.
    hid_device* other = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(Product(other), L"Second");
    transport.hid_close(other);
    hid_device_info* listed = transport.hid_enumerate(kVid, kPid);
    ASSERT_NE(listed, nullptr);
    EXPECT_STREQ(listed->path, "/dev/hidraw2");
    EXPECT_EQ(listed->next, nullptr);
    transport.hid_free_enumeration(listed);
    transport.hid_close(exclusive);

    hid_device* zeros = transport.hid_open(0, 0, nullptr, 0);
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(Product(zeros), L"Virtual HID");
    transport.hid_close(zeros);

    EXPECT_EQ(transport.hid_open(kVid, 0x0707, nullptr, 0), nullptr);
    EXPECT_EQ(transport.hid_open(kVid, kPid, L"123", 0), nullptr);
    transport.hid_close(nullptr);
}

TEST_F(HidrawIo, AnOpenRecordTellsItsPortAndConfinementOpensTheBoxThere) {
    bed.Add(0, kVid, kPid, "Box A", false, "1-1");
    EmulatedHid& boxB = bed.Add(1, kVid, kPid, "Box B", false, "2-3.1");
    bed.Add(2, kVid, 0xF000, "");  // no USB parent, as uhid makes it
    EXPECT_EQ(transport.hid_port(nullptr), "");

    transport.hid_confine_to_port("2-3.1");
    hid_device* b = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Product(b), L"Box B");
    EXPECT_EQ(transport.hid_port(b), "2-3.1");
    EXPECT_EQ(transport.hid_open(kVid, 0xF000, nullptr, 0), nullptr);
    transport.hid_confine_to_port(std::nullopt);
    hid_device* a = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(transport.hid_port(a), "1-1");
    hid_device* virtualHid = transport.hid_open(kVid, 0xF000, nullptr, 0);
    ASSERT_NE(virtualHid, nullptr);
    EXPECT_EQ(transport.hid_port(virtualHid), "");
    EXPECT_EQ(transport.hid_ports(kVid, kPid), (std::vector<std::string>{"1-1", "2-3.1"}));

    // Gone, the box's record names no port, whatever now holds the node's number.
    bed.Unplug(boxB);
    EXPECT_EQ(transport.hid_port(b), "");
    EXPECT_NE(transport.hid_error(b), nullptr);
    for (hid_device* device : {a, b, virtualHid}) {
        transport.hid_close(device);
    }
}

TEST_F(HidrawIo, BothReadPathsGiveTheMessageAtByteZero) {
    EmulatedHid& plain = bed.Add(0, kVid, kPid, "ZELK Q750");
    EmulatedHid& numbered = bed.Add(1, kVid, 0xF000, "Programmer", true);
    hid_device* device = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(device, nullptr);
    transport.hid_set_nonblocking(device, 1, 1000);

    // hidraw hands over an unnumbered report without its ID byte.
    const auto message = Message(0x5E, 64);
    bed.SendInput(plain, message);
    std::vector<std::uint8_t> buffer(65, 0);
    ASSERT_EQ(transport.hid_read_int(device, buffer.data(), 65), 64);
    EXPECT_TRUE(std::equal(message.begin(), message.end(), buffer.begin()));

    // The control request answers with report number 0 in front, which is taken off.
    std::vector<std::uint8_t> control = {0};
    control.insert(control.end(), message.begin(), message.end());
    {
        const std::lock_guard<std::mutex> lock(plain.mutex);
        plain.control_report = control;
    }
    std::fill(buffer.begin(), buffer.end(), 0xAA);
    ASSERT_EQ(transport.hid_read(device, buffer.data(), 65), 64);
    EXPECT_TRUE(std::equal(message.begin(), message.end(), buffer.begin()));
    // A first byte that is not report number 0 stays.
    {
        const std::lock_guard<std::mutex> lock(plain.mutex);
        plain.control_report = Message(0x78, 65);
    }
    ASSERT_EQ(transport.hid_read(device, buffer.data(), 65), 65);
    EXPECT_EQ(buffer[0], 0x78);

    // A shorter buffer takes the front of the report.
    bed.SendInput(plain, message);
    ASSERT_EQ(transport.hid_read_int(device, buffer.data(), 10), 9);
    EXPECT_EQ(buffer[8], message[8]);
    transport.hid_close(device);

    // A numbered report arrives whole, its ID first.
    hid_device* programmer = transport.hid_open(kVid, 0xF000, nullptr, 0);
    ASSERT_NE(programmer, nullptr);
    auto report = Message(1, 65);
    bed.SendInput(numbered, report);
    ASSERT_EQ(transport.hid_read_int(programmer, buffer.data(), 65), 65);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[64], 65);
    transport.hid_close(programmer);
}

TEST_F(HidrawIo, TimeOutsWaitTheirTimeAndKeepTheirResults) {
    EmulatedHid& hid = bed.Add(0, kVid, kPid, "ZELK Q750");
    hid_device* device = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(device, nullptr);
    transport.hid_set_nonblocking(device, 1, 100);
    std::vector<std::uint8_t> buffer(65, 0);

    auto start = steady_clock::now();
    EXPECT_EQ(transport.hid_read_int(device, buffer.data(), 65), 0);
    EXPECT_GE(steady_clock::now() - start, milliseconds(100));
    EXPECT_EQ(transport.hid_error(device), nullptr);  // a read time-out records nothing

    // A device that takes 300 ms over a report: the write gives up at its time-out.
    {
        const std::lock_guard<std::mutex> lock(hid.mutex);
        hid.write_delay_ms = 300;
    }
    const auto out = Message(0, 65);
    start = steady_clock::now();
    EXPECT_EQ(transport.hid_write(device, out.data(), 65), -2);
    EXPECT_GE(steady_clock::now() - start, milliseconds(100));
    ASSERT_NE(transport.hid_error(device), nullptr);
    EXPECT_EQ(std::wstring(transport.hid_error(device)).find(L'\r'), std::wstring::npos);
    EXPECT_FALSE(std::wstring(transport.hid_error(device)).empty());

    // nonblock 0 means no limit, whatever the time-out says.
    transport.hid_set_nonblocking(device, 0, 10);
    start = steady_clock::now();
    EXPECT_EQ(transport.hid_write(device, out.data(), 65), 65);
    EXPECT_GE(steady_clock::now() - start, milliseconds(300));
    {
        const std::lock_guard<std::mutex> lock(hid.mutex);
        EXPECT_EQ(hid.writes.size(), 2U);  // the abandoned write went out before the next one
        hid.write_delay_ms = 0;
    }
    transport.hid_close(device);
}

TEST_F(HidrawIo, UnpluggedDeviceFailsEveryCallUntilClosed) {
    EmulatedHid& hid = bed.Add(0, kVid, kPid, "ZELK Q750");
    hid_device* device = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(Product(device), L"ZELK Q750");
    bed.Unplug(hid);

    // No limit on the time-out: a hang here would show as the test's time-out.
    std::vector<std::uint8_t> buffer(65, 0);
    EXPECT_EQ(transport.hid_read_int(device, buffer.data(), 65), -1);
    EXPECT_EQ(transport.hid_write(device, buffer.data(), 65), -1);
    EXPECT_EQ(transport.hid_read(device, buffer.data(), 65), -1);
    wchar_t text[8] = {L'x'};
    EXPECT_EQ(transport.hid_get_product_string(device, text, 8), -1);
    EXPECT_NE(transport.hid_error(device), nullptr);
    EXPECT_EQ(transport.hid_open(kVid, kPid, nullptr, 0), nullptr);
    transport.hid_close(device);

    // A caller that already closed its record (or never had one) gets -1 and nothing is touched.
    EXPECT_EQ(transport.hid_set_nonblocking(nullptr, 1, 100), -1);
    EXPECT_EQ(transport.hid_read_int(nullptr, buffer.data(), 65), -1);
    EXPECT_EQ(transport.hid_write(nullptr, buffer.data(), 65), -1);
    EXPECT_EQ(transport.hid_read(nullptr, buffer.data(), 65), -1);
    EXPECT_EQ(transport.hid_get_product_string(nullptr, text, 8), -1);
    EXPECT_EQ(transport.hid_error(nullptr), nullptr);
    transport.hid_close(nullptr);
}

TEST_F(HidrawIo, ProductStringIsDecodedAndCutToTheBuffer) {
    bed.Add(0, kVid, kPid, "ZELK \xC3\xA9\xFF Q750");
    hid_device* device = transport.hid_open(kVid, kPid, nullptr, 0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(Product(device), L"ZELK \u00E9\uFFFD Q750");
    wchar_t text[5] = {L'x', L'x', L'x', L'x', L'x'};
    EXPECT_EQ(transport.hid_get_product_string(device, text, 4), 0);
    EXPECT_EQ(std::wstring(text), L"ZEL");
    EXPECT_EQ(text[4], L'x');
    EXPECT_EQ(transport.hid_get_product_string(device, text, 0), -1);
    transport.hid_close(device);
}

TEST_F(HidrawIo, ANodeThisUserMayNotOpenIsNamedWithTheReason) {
    bed.Add(0, kVid, kPid, "ZELK Q750");
    bed.Forbid(0);
    // Root opens any node, so the open runs in a child that is not root (CI runs as root).
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(10);
        }
        if (transport.hid_open(kVid, kPid, nullptr, 0) != nullptr) {
            ::_exit(11);
        }
        const auto failures = transport.hid_open_failures();
        const bool named = failures.size() == 1 && failures[0].path == "/dev/hidraw0" &&
                           failures[0].error.operation == "open" &&
                           failures[0].error.kind == ZELKUtil::ErrorKind::AccessDenied &&
                           failures[0].error.reason == "Permission denied";
        ::_exit(named ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: cannot drop root, 11: opened, 12: reason not named";

    // An open that succeeds, or finds nothing, leaves no failure behind.
    EXPECT_EQ(transport.hid_open(kVid, 0x0707, nullptr, 0), nullptr);
    EXPECT_TRUE(transport.hid_open_failures().empty());
}

}  // namespace
