#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ZELKUtil {

// What the STAPL player prints, line by line, and the FPGA variants: kept pure, so that they are
// checked on literal output of the player.

// What one line of the identification run (-aDEVICE_INFO) tells: the IDCODE export and the
// CHECKSUM line, each with its value where that parses.
struct StaplIdentificationLine {
    bool idcodeLine = false;
    std::optional<std::uint32_t> idcode;
    bool checksumLine = false;
    std::optional<std::uint32_t> checksum;
};
StaplIdentificationLine ReadStaplIdentificationLine(const std::string& line);

// What one line of the programming run tells; `previous` is the line before it.
struct StaplProgressLine {
    bool step = false;          // PERCENT_DONE: a mark of the bar
    bool verifyPassed = false;  // the verification passed: the FPGA is programmed
    bool verifying = false;     // the verification began
    bool erased = false;        // a successful exit right after the erase completed
    bool exitCode = false;      // the line that reports the exit code, kept as the error text
};
StaplProgressLine ReadStaplProgressLine(const std::string& line, const std::string& previous);

// A hexadecimal number of up to 32 bits with blanks allowed around it; nullopt when it does not
// parse.
std::optional<std::uint32_t> ParseHex32(const std::string& text);

// The text after the last occurrence of marker in line, or nullopt when the marker is absent.
std::optional<std::string> TextAfterLast(const std::string& line, const std::string& marker);

enum class FpgaVariant { None, A3P060_KR, A3P060_CH, A3PN060 };

// The variant by its IDCODE, tested in order: the first two ignore the version field (top four
// bits), the third also bits 24 and 27.
FpgaVariant ClassifyIdcode(std::optional<std::uint32_t> idcode);

// What the log says for a variant: "\r\nA3P060 KR FPGA detected" and so on.
const char* VariantText(FpgaVariant variant);

}  // namespace ZELKUtil
