// The readers of the package's profile file and version file on any content.
#include <cstdint>
#include <string>

#include "package/profile_file.h"
#include "package/version_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    (void)ZELKUtil::FirstLineOf(content);
    (void)ZELKUtil::ParseProfileFile(content, "Tools/zelk.config");
    return 0;
}
