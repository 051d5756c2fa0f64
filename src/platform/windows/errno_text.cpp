#include <cstring>

#include "platform/result.h"

namespace ZELKUtil {

std::string ErrnoText(int err) {
    // strerror may hand every thread the same buffer; runs of several boxes fail at once.
    char buffer[256] = {};
    if (::strerror_s(buffer, sizeof buffer, err) != 0) {
        return "error " + std::to_string(err);
    }
    return buffer;
}

}  // namespace ZELKUtil
