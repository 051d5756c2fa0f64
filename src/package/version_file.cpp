#include "package/version_file.h"

#include "platform/files.h"
#include "platform/utf8.h"

namespace ZELKUtil {
namespace {

// The UTF-16 text in the bytes after the byte-order mark; an odd last byte is dropped.
std::string Utf16BytesToUtf8(const std::string& bytes, std::size_t start, bool bigEndian) {
    std::u16string units;
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        units.push_back(static_cast<char16_t>((hi << 8U) | lo));
    }
    return Utf16ToUtf8(units);
}

}  // namespace

std::optional<std::string> ReadFirstLine(const std::string& path) {
    // Only the first line matters; a bounded read keeps a huge file from slowing start-up.
    constexpr std::size_t kMaxBytes = std::size_t{64} * 1024;
    Result<std::string> head = Files::ReadHead(path, kMaxBytes);
    if (!head) {
        return std::nullopt;
    }
    return FirstLineOf(std::move(head).value());
}

std::string FirstLineOf(std::string bytes) {
    std::string text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        text = Utf16BytesToUtf8(bytes, 2, false);
    } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
        text = Utf16BytesToUtf8(bytes, 2, true);
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = bytes.substr(3);
    } else {
        text = std::move(bytes);
    }
    // A line ends at CR, LF or CR LF, as a text reader would take it.
    const std::size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace ZELKUtil
