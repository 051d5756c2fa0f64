// On Windows a port's claim is a named mutex: it exists while a handle to it is open, and the
// system closes the handles of a process that ends.
#include "cli/port_claim.h"

#include <windows.h>

#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/unique_handle.h"

namespace ZELKUtil::Cli {
namespace {

class MutexClaim final : public PortClaim {
  public:
    explicit MutexClaim(UniqueHandle mutex) : mutex_(std::move(mutex)) {}

  private:
    UniqueHandle mutex_;
};

}  // namespace

std::unique_ptr<PortClaim> ClaimPort(const std::string& port, std::string* why) {
    // Global: every session's zelk-cli sees it; Local where this user may not make global names.
    for (const char* space : {"Global\\", "Local\\"}) {
        const std::wstring name = Utf8ToWide(space + PortClaimName(port));
        UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, name.c_str()));
        const DWORD error = ::GetLastError();
        if (mutex.Valid() && error == ERROR_ALREADY_EXISTS) {
            return nullptr;
        }
        if (mutex.Valid()) {
            return std::make_unique<MutexClaim>(std::move(mutex));
        }
        if (error != ERROR_ACCESS_DENIED) {
            *why = "CreateMutex " + WideToUtf8(name) + ": " + Windows::SystemErrorText(error);
            break;
        }
    }
    return std::make_unique<PortClaim>();
}

}  // namespace ZELKUtil::Cli
