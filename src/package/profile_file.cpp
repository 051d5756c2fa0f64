#include "package/profile_file.h"

#include <pugixml.hpp>

#include "platform/files.h"

namespace ZELKUtil {

Result<std::vector<ZelkProfile>> ReadProfileFile(const std::string& path) {
    // Read the bytes ourselves so that an unreadable file reports the system's reason, which
    // pugixml's own loader would hide behind "file not found". A profile file is a few KiB.
    constexpr std::size_t kMaxBytes = std::size_t{16} * 1024 * 1024;
    const Result<std::string> bytes = Files::ReadHead(path, kMaxBytes);
    if (!bytes) {
        return Error{bytes.error().kind, "Could not open '" + path + "'", bytes.error().reason};
    }
    return ParseProfileFile(bytes.value(), path);
}

Result<std::vector<ZelkProfile>> ParseProfileFile(const std::string& content,
                                                  const std::string& path) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(content.data(), content.size());
    if (!parsed) {
        return Error{ErrorKind::MalformedContent,
                     "Could not parse '" + path + "' at offset " + std::to_string(parsed.offset),
                     parsed.description()};
    }
    // pugixml accepts a document without any element; an XML reader would call that malformed.
    if (!doc.document_element()) {
        return Error{ErrorKind::MalformedContent, "Could not parse '" + path + "'",
                     "the document has no root element"};
    }
    std::vector<ZelkProfile> profiles;
    for (const pugi::xpath_node& node : doc.select_nodes("//detail")) {
        ZelkProfile profile;
        (void)profile.Read(node.node());
        profiles.push_back(std::move(profile));
    }
    return profiles;
}

}  // namespace ZELKUtil
