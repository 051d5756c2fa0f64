#include "package/zelk_profile.h"

#include <pugixml.hpp>

namespace ZELKUtil {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// An attribute that is absent is an error; one that is present but empty is a valid empty text.
bool TakeAttribute(const pugi::xml_node& item, const char* attribute, std::string& out,
                   std::string& error) {
    const pugi::xml_attribute a = item.attribute(attribute);
    if (!a) {
        error = std::string("Attribute \"") + attribute + "\" is missing from the \"" +
                item.name() + "\" element.";
        return false;
    }
    out = a.value();
    return true;
}

}  // namespace

HexParseResult ParseProfileHex(std::string text) {
    HexParseResult result;
    const std::string original = text;
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
        text.erase(0, 2);
    }
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    if (begin == end) {
        result.error = "The number \"" + original + "\" is not a hexadecimal number.";
        return result;
    }
    std::uint32_t value = 0;
    int significant = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) {
            result.error = "The number \"" + original + "\" is not a hexadecimal number.";
            return result;
        }
        if (significant > 0 || digit != 0) {
            ++significant;
        }
        if (significant > 4) {
            result.error = "The number \"" + original + "\" is too large for 16 bits.";
            return result;
        }
        value = (value << 4U) | static_cast<std::uint32_t>(digit);
    }
    result.ok = true;
    result.value = static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    return result;
}

std::string ZelkProfile::Read(const pugi::xml_node& item) {
    std::string error;
    std::string typeText;
    if (!TakeAttribute(item, "profile", typeText, error)) {
        return error;
    }
    type = std::move(typeText);
    // Both numbers are taken as texts before either is parsed: a missing pid therefore stops the
    // reading before vid is set, while a malformed pid leaves vid set.
    std::string vidText;
    std::string pidText;
    if (!TakeAttribute(item, "vid", vidText, error) ||
        !TakeAttribute(item, "pid", pidText, error)) {
        return error;
    }
    const HexParseResult v = ParseProfileHex(vidText);
    if (!v.ok) {
        return v.error;
    }
    vid = v.value;
    const HexParseResult p = ParseProfileHex(pidText);
    if (!p.ok) {
        return p.error;
    }
    pid = p.value;
    if (!TakeAttribute(item, "id", id, error) || !TakeAttribute(item, "name", name, error) ||
        !TakeAttribute(item, "LPC3131", LPC3131, error) ||
        !TakeAttribute(item, "A3P060", A3P060, error) ||
        !TakeAttribute(item, "A3PN060", A3PN060, error)) {
        return error;
    }
    return "";
}

}  // namespace ZELKUtil
