#include "package/zelk_profile.h"

#include <algorithm>
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

Result<std::int16_t> ParseProfileHex(std::string text) {
    const std::string original = text;
    const auto malformed = [&original](const char* what) {
        return Error{ErrorKind::MalformedContent, "parse \"" + original + "\"",
                     "The number \"" + original + "\" is " + what + "."};
    };
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
        return malformed("not a hexadecimal number");
    }
    std::uint32_t value = 0;
    int significant = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) {
            return malformed("not a hexadecimal number");
        }
        if (significant > 0 || digit != 0) {
            ++significant;
        }
        if (significant > 4) {
            return malformed("too large for 16 bits");
        }
        value = (value << 4U) | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
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
    const Result<std::int16_t> v = ParseProfileHex(vidText);
    if (!v) {
        return v.error().reason;
    }
    vid = v.value();
    const Result<std::int16_t> p = ParseProfileHex(pidText);
    if (!p) {
        return p.error().reason;
    }
    pid = p.value();
    if (!TakeAttribute(item, "id", id, error) || !TakeAttribute(item, "name", name, error) ||
        !TakeAttribute(item, "LPC3131", LPC3131, error) ||
        !TakeAttribute(item, "A3P060", A3P060, error) ||
        !TakeAttribute(item, "A3PN060", A3PN060, error)) {
        return error;
    }
    return "";
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> NormalModeIds(
    const std::vector<ZelkProfile>& profiles) {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> ids;
    for (const ZelkProfile& profile : profiles) {
        const std::pair<std::uint16_t, std::uint16_t> pair{static_cast<std::uint16_t>(profile.vid),
                                                           static_cast<std::uint16_t>(profile.pid)};
        if (std::find(ids.begin(), ids.end(), pair) == ids.end()) {
            ids.push_back(pair);
        }
    }
    return ids;
}

}  // namespace ZELKUtil
