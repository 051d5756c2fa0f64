#include "package/profile_file.h"

#include <pugixml.hpp>

#include "platform/files.h"

namespace ZELKUtil {

ProfileFileResult ReadProfileFile(const std::string& path) {
    ProfileFileResult result;
    // Read the bytes ourselves so that an unreadable file reports the system's reason, which
    // pugixml's own loader would hide behind "file not found". A profile file is a few KiB.
    constexpr std::size_t kMaxBytes = std::size_t{16} * 1024 * 1024;
    const Result<std::string> bytes = Files::ReadHead(path, kMaxBytes);
    if (!bytes) {
        result.error = "Could not open '" + path + "': " + bytes.error().reason;
        return result;
    }
    return ParseProfileFile(bytes.value(), path);
}

ProfileFileResult ParseProfileFile(const std::string& content, const std::string& path) {
    ProfileFileResult result;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(content.data(), content.size());
    if (!parsed) {
        result.error = "Could not parse '" + path + "' at offset " + std::to_string(parsed.offset) +
                       ": " + parsed.description();
        return result;
    }
    // pugixml accepts a document without any element; an XML reader would call that malformed.
    if (!doc.document_element()) {
        result.error = "Could not parse '" + path + "': the document has no root element";
        return result;
    }
    result.loaded = true;
    for (const pugi::xpath_node& node : doc.select_nodes("//detail")) {
        ZelkProfile profile;
        (void)profile.Read(node.node());
        result.profiles.push_back(std::move(profile));
    }
    return result;
}

}  // namespace ZELKUtil
