#include "device/messages.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> WithTrailingZeros(std::vector<unsigned char> head) {
    head.resize(kReportBufferSize, 0);
    return head;
}

std::vector<unsigned char> AsVector(const ReportBuffer& report) {
    return {report.begin(), report.end()};
}

TEST(MessagesTest, RequestsGoOutAsTheFirmwareExpectsThem) {
    EXPECT_EQ(AsVector(BuildBasicRequest(MSG_GET_VERSION_NUMBER)),
              WithTrailingZeros({0x00, 0x5E, 0x00, 0x00, 0x01, 0x00, 0x14, 0x02, 0xE5}));
    EXPECT_EQ(AsVector(BuildLightRingRequest(1)),
              WithTrailingZeros({0x00, 0x5E, 0x00, 0x00, 0x02, 0x00, 0x14, 0x20, 0x01, 0xE5}));
    EXPECT_EQ(AsVector(BuildBasicRequest(MSG_START_BOOTLOADER)),
              WithTrailingZeros({0x00, 0x5E, 0x00, 0x00, 0x01, 0x00, 0x14, 0x31, 0xE5}));
}

TEST(MessagesTest, UsbIdWriteCarriesIdsAndZeroPaddedSerial) {
    const auto report = BuildWriteUsbIdsRequest(0x14E3, 0x0706, "ABC");
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(
        AsVector(*report),
        WithTrailingZeros({0x00, 0x5E, 0x00, 0x00, 0x11, 0x00, 0x14, 0x04,              // header
                           0xE3, 0x14, 0x06, 0x07,                                      // vid, pid
                           0x41, 0x42, 0x43, 0,    0,    0,    0,    0,    0, 0, 0, 0,  // serial
                           0xE5}));
    EXPECT_TRUE(BuildWriteUsbIdsRequest(1, 2, "ABCDEFGHIJK").has_value());    // 11 + terminator
    EXPECT_FALSE(BuildWriteUsbIdsRequest(1, 2, "ABCDEFGHIJKL").has_value());  // no terminator
}

TEST(MessagesTest, BoxMessagesAreRecognisedByIdAndEventCode) {
    std::vector<unsigned char> message(kReportDataSize, 0);
    const auto classify = [&](unsigned char id, unsigned char eventCode) {
        message[6] = id;
        message[7] = eventCode;
        return ClassifyBoxMessage(message);
    };
    EXPECT_EQ(classify(0x81, 0), BoxMessageKind::VersionNumber);
    EXPECT_EQ(classify(0x84, 0x06), BoxMessageKind::Diagnostics);
    EXPECT_EQ(classify(0xEE, 0x06), BoxMessageKind::TargetEyeChangedEvent);
    EXPECT_EQ(classify(0xEE, 0xEE), BoxMessageKind::ErrorEvent);
    EXPECT_EQ(classify(0xEE, 0x01), BoxMessageKind::OtherEvent);
    EXPECT_EQ(classify(0x06, 0xEE), BoxMessageKind::Unknown);
    EXPECT_EQ(classify(0x00, 0), BoxMessageKind::Unknown);
}

TEST(MessagesTest, TextStopsAtZeroByteOrAtTheEndOfTheReport) {
    ReportBuffer buffer{};
    buffer.fill('x');  // no zero byte, even in the byte after the report
    buffer[6] = MSG_VERSION_NUMBER;
    EXPECT_EQ(ReadMessageText(buffer, 7), std::string(kReportDataSize - 7, 'x'));

    buffer[7 + 5] = 0;
    EXPECT_EQ(ReadMessageText(buffer, 7), "xxxxx");
    EXPECT_EQ(ReadMessageText(std::span(buffer).first(9), 7), "xx");
}

}  // namespace
