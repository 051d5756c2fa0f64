#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ZELKUtil {

// Recognisers for the STAPL player's identification output and the FPGA variants, kept pure so
// that they are checked on literal output.

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
