#include "device/diagnostics.h"

#include <cstdint>
#include <cstdio>

#include "device/messages.h"

namespace {

const char* YesNo(bool yes) {
    return yes ? "Yes" : "No";
}

// "No -" for a clear error field, "Yes -" for a set one.
const char* StatePrefix(int value) {
    return value == 0 ? "No -" : "Yes -";
}

std::string HexDigits(std::uint32_t value, int minDigits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", minDigits, static_cast<unsigned>(value));
    return text;
}

std::string FpgaVersionText(std::int16_t version) {
    if (version < 0) {
        // Computed in 32 bits so that the most negative version gives 8000, not an overflow.
        const std::int32_t magnitude = -static_cast<std::int32_t>(version);
        return "-" + HexDigits(static_cast<std::uint32_t>(magnitude), 4);
    }
    return HexDigits(static_cast<std::uint32_t>(version), 4);
}

const char* VideoStreamText(std::int8_t stream) {
    switch (stream) {
        case 0:
            return "No";
        case 1:
            return "Yes - ISOC";
        case 0x10:
            return "Yes - BULK";
        default:
            return "Yes";
    }
}

}  // namespace

std::string DecodeDiagnostics(std::span<const unsigned char> answer) {
    const auto diag = FromBytes<RSP_DIAGNOSTICS_MESSAGE>(answer);
    const std::string crlf = "\r\n";
    std::string text;
    text += "Hardware: " + std::to_string(diag.hardware) + crlf;
    text += std::string("Mains Power: ") + YesNo(diag.mains_power == 1) + crlf;
    text +=
        std::string("Frontend Comms: ") + YesNo((diag.frontend_flags & kFrontendComms) != 0) + crlf;
    if ((diag.frontend_flags & kFrontendGreyscale) != 0) {
        text += "Frontend Format: Greyscale" + crlf;
    } else if ((diag.frontend_flags & kFrontendColour) != 0) {
        text += "Frontend Format: Colour" + crlf;
    }
    text += std::string("Video In Detected: ") + YesNo(diag.video_in == 1) + crlf;
    text += "FPGA Version: " + FpgaVersionText(diag.fpga_version) + crlf;
    text += std::string("Video Stream Active: ") + VideoStreamText(diag.video_stream) + crlf;
    text += std::string("Tasker Error: ") + StatePrefix(diag.tasker_error) + " " +
            HexDigits(static_cast<std::uint8_t>(diag.tasker_error), 2) + crlf;
    text += std::string("I2C Errors: ") + StatePrefix(diag.i2c_errors) + " " +
            std::to_string(diag.i2c_errors) + crlf;
    text += std::string("USB Errors: ") + StatePrefix(diag.usb_errors) + " " +
            std::to_string(diag.usb_errors) + crlf;
    if (diag.fpga_vid_width != 0) {
        text += "Fpga Vid Width: " + std::to_string(diag.fpga_vid_width) + crlf;
    }
    if (diag.fpga_vid_height != 0) {
        text += "Fpga Vid Height: " + std::to_string(diag.fpga_vid_height) + crlf;
    }
    if (diag.header.length > kDiagnosticsLengthWithoutRings) {
        text += std::string("Rings: ") + (diag.rings == 0 ? "Off" : "On") + crlf;
    }
    text += crlf;
    text += diag.fpga_version > 0 ? "ARM/Fpga programming successful and operational."
                                  : "Fpga programming issue or version mismatch.";
    return text;
}
