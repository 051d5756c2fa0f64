#include <gtest/gtest.h>

#include <array>

#include "hid/device_change.h"
#include "hid/report_descriptor.h"
#include "hid/uevent.h"
#include "hid/wide_text.h"
#include "platform/utf8.h"

namespace ZELKUtil::Hid {
namespace {

TEST(Uevent, ReadsHidIdAndRejectsGarbage) {
    const std::string uevent =
        "DRIVER=hid-generic\nHID_ID=0003:000014E3:00000706\nHID_NAME=ZELK Q750\nHID_IDX=HID_ID=x";
    ASSERT_EQ(UeventValue(uevent, "HID_ID"), "0003:000014E3:00000706");
    EXPECT_EQ(UeventValue(uevent, "HID_NAME"), "ZELK Q750");
    EXPECT_EQ(UeventValue(uevent, "HID"), std::nullopt);
    EXPECT_EQ(UeventValue(uevent, "HID_IDX"), "HID_ID=x");
    EXPECT_EQ(UeventValue("", "HID_ID"), std::nullopt);

    const auto ids = ParseHidId("0003:000014e3:0000DF55");
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->vendor_id, 0x14E3);
    EXPECT_EQ(ids->product_id, 0xDF55);
    for (const char* garbage :
         {"", "0003:000014E3", "0003:000014E3:", "0003::00000706", "0003:0001000E3:00000706",
          "0003:00010000:00000706", "0003:000014G3:00000706", "0003:000014E3:00000706:1",
          "0003:000014E3:0706 "}) {
        EXPECT_EQ(ParseHidId(garbage), std::nullopt) << garbage;
    }
}

TEST(Uevent, PinsOnlyChangesOfOneDeviceThatTheBackendsRead) {
    EXPECT_EQ(PinChange("usb", "usb_interface", "bind", "/u/1-2/1-2:1.0")->Name(), "1-2:1.0");
    // A move renames the device; the rest names no device the backends read.
    const std::array<const char*, 4> unpinned[] = {{"usb", "usb_device", "move", "/u/1-2"},
                                                   {"usb", "usb_device", "add", nullptr},
                                                   {"usb", "usb_device", "add", "/u/"},
                                                   {"usb", nullptr, "add", "/u/1-2"},
                                                   {"block", "disk", "add", "/u/sda"}};
    for (const auto& [subsystem, devtype, action, devpath] : unpinned) {
        EXPECT_EQ(PinChange(subsystem, devtype, action, devpath), std::nullopt) << action;
    }
}

TEST(ReportDescriptor, InputLengthCountsTheReportIdByte) {
    // 64-byte input and output reports, no report IDs: 65 as a HID read buffer.
    const std::uint8_t box[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                                0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};
    auto layout = ParseReportDescriptor(box, sizeof box);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->input_report_length, 65);
    EXPECT_FALSE(layout->numberedReports);

    // Report 1: 3 bits + 5 bits padding; report 2: 2 x 16 bits. Push/pop restore the size.
    const std::uint8_t numbered[] = {0x85, 0x01, 0x75, 0x03, 0x95, 0x01, 0x81, 0x02, 0xA4,
                                     0x75, 0x05, 0x81, 0x03, 0xB4, 0x85, 0x02, 0x75, 0x10,
                                     0x95, 0x02, 0x81, 0x02, 0xFE, 0x01, 0x00, 0x7F};
    layout = ParseReportDescriptor(numbered, sizeof numbered);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->input_report_length, 5);
    EXPECT_TRUE(layout->numberedReports);

    const std::uint8_t output_only[] = {0x75, 0x08, 0x95, 0x40, 0x91, 0x02};
    EXPECT_EQ(ParseReportDescriptor(output_only, sizeof output_only)->input_report_length, 0);
    const std::uint8_t truncated[] = {0x75, 0x08, 0x27, 0xFF};
    EXPECT_EQ(ParseReportDescriptor(truncated, sizeof truncated), std::nullopt);
    const std::uint8_t truncated_long[] = {0xFE, 0x05, 0x00, 0x01};
    EXPECT_EQ(ParseReportDescriptor(truncated_long, sizeof truncated_long), std::nullopt);
}

TEST(WideText, ConvertsBothWaysReplacingMalformedSequences) {
    EXPECT_EQ(Utf8ToWide("ZELK Q750"), L"ZELK Q750");
    EXPECT_EQ(Utf8ToWide("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), L"\u00E9\u20AC\U0001F600");
    // Stray continuation, over-long form, surrogate, truncated sequence at the end.
    EXPECT_EQ(Utf8ToWide("a\x80"
                         "b\xC0\xAF"
                         "c\xED\xA0\x80"
                         "d\xE2\x82"),
              L"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFDd\uFFFD\uFFFD");
    EXPECT_EQ(Utf16Units("a\xC3\xA9\xF0\x9F\x98\x80"), 4U);
    // Back to UTF-8: a character past U+FFFF is one character, also where wchar_t is UTF-16; a
    // lone surrogate is one replacement character.
    EXPECT_EQ(WideToUtf8(Utf8ToWide("\xC3\xA9\xF0\x9F\x98\x80")), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(u"a\xD83D\xDE00"
                          u"b\xD83D"),
              "a\xF0\x9F\x98\x80"
              "b\xEF\xBF\xBD");

    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    ASSERT_TRUE(CopyTerminated(L"ZELK", buffer, 3));
    EXPECT_EQ(std::wstring(buffer), L"ZE");
    EXPECT_EQ(buffer[3], L'x');
    EXPECT_FALSE(CopyTerminated(L"ZELK", buffer, 0));
}

}  // namespace
}  // namespace ZELKUtil::Hid
