#include "platform/system_info.h"

#include <windows.h>

#include "platform/windows/system_info.h"

namespace ZELKUtil {

std::string MachineOfArchitecture(unsigned short architecture) {
    switch (architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return "x86_64";
        case PROCESSOR_ARCHITECTURE_INTEL:
            return "i686";
        case PROCESSOR_ARCHITECTURE_ARM:
            return "arm";
        case PROCESSOR_ARCHITECTURE_IA64:
            return "ia64";
        case 12:  // PROCESSOR_ARCHITECTURE_ARM64
            return "aarch64";
        default:
            return "architecture " + std::to_string(architecture);
    }
}

std::string NativeMachine() {
    // The system's own architecture, also for a program that runs under emulation on it.
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return MachineOfArchitecture(info.wProcessorArchitecture);
}

}  // namespace ZELKUtil
