#include "controller/tools/stapl_output.h"

#include "controller/tools/line_text.h"

namespace ZELKUtil {

std::optional<std::uint32_t> ParseHex32(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t end = text.find_last_not_of(" \t\r\n") + 1;
    std::uint64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4U) | static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFULL) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::string> TextAfterLast(const std::string& line, const std::string& marker) {
    const std::size_t at = line.rfind(marker);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return line.substr(at + marker.size());
}

namespace {

std::optional<std::uint32_t> HexAfter(const std::string& line, const char* marker) {
    const std::optional<std::string> text = TextAfterLast(line, marker);
    return text ? ParseHex32(*text) : std::nullopt;
}

}  // namespace

StaplIdentificationLine ReadStaplIdentificationLine(const std::string& line) {
    StaplIdentificationLine read;
    read.idcodeLine = Holds(line, "Export: key = \"IDCODE\"");
    if (read.idcodeLine) {
        read.idcode = HexAfter(line, "HEX ");
    }
    read.checksumLine = Holds(line, "CHECKSUM:");
    if (read.checksumLine) {
        read.checksum = HexAfter(line, "CHECKSUM: ");
    }
    return read;
}

StaplProgressLine ReadStaplProgressLine(const std::string& line, const std::string& previous) {
    StaplProgressLine read;
    read.step = Holds(line, "PERCENT_DONE");
    read.verifyPassed = Holds(line, "Verifying FPGA Array -- pass");
    read.verifying = !read.verifyPassed && Holds(line, "Verifying FPGA Array");
    read.erased = Holds(line, "Exit code = 0... Success") && Holds(previous, "Completed erase");
    read.exitCode = Holds(line, "Exit code");
    return read;
}

FpgaVariant ClassifyIdcode(std::optional<std::uint32_t> idcode) {
    if (!idcode) {
        return FpgaVariant::None;
    }
    if ((*idcode & 0x0FFFFFFFU) == 0x029121CFU) {
        return FpgaVariant::A3P060_KR;
    }
    if ((*idcode & 0x0FFFFFFFU) == 0x0B9121CFU) {
        return FpgaVariant::A3P060_CH;
    }
    if ((*idcode & 0x06FFFFFFU) == 0x029521CFU) {
        return FpgaVariant::A3PN060;
    }
    return FpgaVariant::None;
}

const char* VariantText(FpgaVariant variant) {
    switch (variant) {
        case FpgaVariant::A3P060_KR:
            return "\r\nA3P060 KR FPGA detected";
        case FpgaVariant::A3P060_CH:
            return "\r\nA3P060 CH FPGA detected";
        case FpgaVariant::A3PN060:
            return "\r\nA3PN060 FPGA detected";
        case FpgaVariant::None:
            break;
    }
    return "\r\nNo FPGA detected";
}

}  // namespace ZELKUtil
