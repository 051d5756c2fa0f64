#include <cstring>

#include "platform/result.h"

namespace ZELKUtil {
namespace {

// strerror_r comes in two kinds: the GNU one returns the text (in the buffer or not), the POSIX
// one fills the buffer and returns 0 or an error number.
[[maybe_unused]] const char* TextOf(const char* text, const char* /*buffer*/) {
    return text;
}
[[maybe_unused]] const char* TextOf(int failed, const char* buffer) {
    return failed == 0 ? buffer : nullptr;
}

}  // namespace

std::string ErrnoText(int err) {
    // strerror may hand every thread the same buffer; runs of several boxes fail at once.
    char buffer[256] = {};
    const char* text = TextOf(::strerror_r(err, buffer, sizeof buffer), buffer);
    return text != nullptr ? text : "error " + std::to_string(err);
}

}  // namespace ZELKUtil
