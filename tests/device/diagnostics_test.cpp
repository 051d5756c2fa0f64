#include "device/diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/messages.h"

namespace {

// The worked example: a healthy box with a colour front end streaming over bulk transfers.
RSP_DIAGNOSTICS_MESSAGE Example() {
    RSP_DIAGNOSTICS_MESSAGE m{};
    InitMessage(m, MSG_DIAGNOSTICS);
    m.hardware = 2;
    m.mains_power = 1;
    m.frontend_flags = 0x05;
    m.video_in = 1;
    m.video_stream = 16;
    m.fpga_version = 0x0102;
    m.fpga_vid_width = 720;
    m.fpga_vid_height = 576;
    m.rings = 1;
    return m;
}

std::string Decode(const RSP_DIAGNOSTICS_MESSAGE& m) {
    ReportBuffer buffer{};
    std::memcpy(buffer.data(), &m, sizeof m);
    return DecodeDiagnostics(buffer);
}

bool HasLine(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
}

TEST(DiagnosticsTest, WorkedExampleLineForLine) {
    EXPECT_EQ(Decode(Example()),
              "Hardware: 2\r\n"
              "Mains Power: Yes\r\n"
              "Frontend Comms: Yes\r\n"
              "Frontend Format: Colour\r\n"
              "Video In Detected: Yes\r\n"
              "FPGA Version: 0102\r\n"
              "Video Stream Active: Yes - BULK\r\n"
              "Tasker Error: No - 00\r\n"
              "I2C Errors: No - 0\r\n"
              "USB Errors: No - 0\r\n"
              "Fpga Vid Width: 720\r\n"
              "Fpga Vid Height: 576\r\n"
              "Rings: On\r\n"
              "\r\n"
              "ARM/Fpga programming successful and operational.");
}

TEST(DiagnosticsTest, RingStateOnlyWhenTheMessageCarriesIt) {
    auto m = Example();
    m.header.length = 15;  // byte 21 is then the end byte, not the ring state
    EXPECT_EQ(Decode(m).find("Rings"), std::string::npos);
    m.header.length = 16;
    m.rings = 0;
    EXPECT_TRUE(HasLine(Decode(m), "Rings: Off"));
}

TEST(DiagnosticsTest, FpgaVersionSignAndVerdict) {
    auto m = Example();
    m.fpga_version = 0;
    std::string text = Decode(m);
    EXPECT_TRUE(HasLine(text, "FPGA Version: 0000"));
    EXPECT_TRUE(text.ends_with("\r\n\r\nFpga programming issue or version mismatch."));

    m.fpga_version = -1;  // bytes FF FF
    text = Decode(m);
    EXPECT_TRUE(HasLine(text, "FPGA Version: -0001"));
    EXPECT_TRUE(text.ends_with("Fpga programming issue or version mismatch."));

    m.fpga_version = INT16_MIN;  // bytes 00 80
    EXPECT_TRUE(HasLine(Decode(m), "FPGA Version: -8000"));
    m.fpga_version = 0x00AB;
    EXPECT_TRUE(HasLine(Decode(m), "FPGA Version: 00ab"));
    m.fpga_version = 0x7FFF;
    EXPECT_TRUE(HasLine(Decode(m), "FPGA Version: 7fff"));
}

TEST(DiagnosticsTest, FieldFormattingEdgeValues) {
    auto m = Example();
    m.frontend_flags = 0x06;
    m.tasker_error = -1;  // byte 0xFF
    m.i2c_errors = -2;    // byte 0xFE
    m.usb_errors = 7;
    m.mains_power = 2;
    m.video_in = 2;
    m.video_stream = 1;
    m.hardware = -2;
    m.fpga_vid_width = 0;
    m.fpga_vid_height = 480;
    const std::string text = Decode(m);
    EXPECT_TRUE(HasLine(text, "Hardware: -2"));
    EXPECT_TRUE(HasLine(text, "Mains Power: No"));
    EXPECT_TRUE(HasLine(text, "Frontend Comms: No"));
    EXPECT_TRUE(HasLine(text, "Frontend Format: Greyscale"));
    EXPECT_EQ(text.find("Colour"), std::string::npos);
    EXPECT_TRUE(HasLine(text, "Video In Detected: No"));
    EXPECT_TRUE(HasLine(text, "Video Stream Active: Yes - ISOC"));
    EXPECT_TRUE(HasLine(text, "Tasker Error: Yes - ff"));
    EXPECT_TRUE(HasLine(text, "I2C Errors: Yes - -2"));
    EXPECT_TRUE(HasLine(text, "USB Errors: Yes - 7"));
    EXPECT_EQ(text.find("Width"), std::string::npos);
    EXPECT_TRUE(HasLine(text, "Fpga Vid Height: 480"));

    for (int flags : {0x00, 0x01}) {
        m.frontend_flags = static_cast<std::uint8_t>(flags);
        EXPECT_EQ(Decode(m).find("Frontend Format"), std::string::npos);
    }
    m.video_stream = 0;
    EXPECT_TRUE(HasLine(Decode(m), "Video Stream Active: No"));
    m.video_stream = 5;
    EXPECT_TRUE(HasLine(Decode(m), "Video Stream Active: Yes"));
    m.fpga_vid_height = -5;
    EXPECT_TRUE(HasLine(Decode(m), "Fpga Vid Height: -5"));
}

}  // namespace
