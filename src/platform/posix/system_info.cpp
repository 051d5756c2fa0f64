#include "platform/system_info.h"

#include <sys/utsname.h>

namespace ZELKUtil {

std::string NativeMachine() {
    struct utsname name {};
    if (::uname(&name) != 0) {
        return {};
    }
    return name.machine;
}

}  // namespace ZELKUtil
