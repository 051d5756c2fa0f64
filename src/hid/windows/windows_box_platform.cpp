#include "hid/windows/windows_box_platform.h"

namespace ZELKUtil::Hid {

WindowsBoxPlatform::WindowsBoxPlatform(const Win32Calls& calls, const std::string& packageFolder,
                                       std::ostream* listing)
    : hid_(calls, &journal_),
      probe_(calls, listing != nullptr ? *listing : discard_, &journal_),
      processes_(packageFolder) {}

}  // namespace ZELKUtil::Hid
