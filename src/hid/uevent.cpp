#include "hid/uevent.h"

#include <cstddef>

namespace ZELKUtil::Hid {
namespace {

// A field of 1 to 8 hexadecimal digits and nothing else.
std::optional<std::uint32_t> ParseHexField(std::string_view field) {
    if (field.empty() || field.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : field) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16U + digit;
    }
    return value;
}

}  // namespace

std::optional<std::string> UeventValue(std::string_view uevent, std::string_view key) {
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string_view::npos) {
            end = uevent.size();
        }
        const std::string_view line = uevent.substr(start, end - start);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=') {
            return std::string(line.substr(key.size() + 1));
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<HidIds> ParseHidId(std::string_view value) {
    const std::size_t first = value.find(':');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t second = value.find(':', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    const auto bus = ParseHexField(value.substr(0, first));
    const auto vendor = ParseHexField(value.substr(first + 1, second - first - 1));
    const auto product = ParseHexField(value.substr(second + 1));
    if (!bus || !vendor || !product || *vendor > 0xFFFFU || *product > 0xFFFFU) {
        return std::nullopt;
    }
    return HidIds{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

}  // namespace ZELKUtil::Hid
