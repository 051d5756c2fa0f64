// On Linux a port's claim is an flock on a lock file every user can open: in /run/lock (world
// writable, as Debian makes it), else /tmp. The kernel drops the lock with the process.
#include "cli/port_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/unique_fd.h"
#include "platform/result.h"

namespace ZELKUtil::Cli {
namespace {

class FlockClaim final : public PortClaim {
  public:
    explicit FlockClaim(UniqueFd fd) : fd_(std::move(fd)) {}

  private:
    UniqueFd fd_;  // the lock goes with the descriptor
};

std::string LockFolder() {
    return ::access("/run/lock", W_OK | X_OK) == 0 ? "/run/lock" : "/tmp";
}

}  // namespace

std::unique_ptr<PortClaim> ClaimPort(const std::string& port, std::string* why) {
    const std::string path = LockFolder() + "/" + PortClaimName(port) + ".lock";
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd.Valid()) {
        *why = "open " + path + ": " + ErrnoText(errno);
        return std::make_unique<PortClaim>();
    }
    // Another user's zelk-cli must be able to take the same lock; the umask narrowed the mode.
    (void)::fchmod(fd.Get(), 0666);
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return nullptr;
        }
        *why = "lock " + path + ": " + ErrnoText(errno);
        return std::make_unique<PortClaim>();
    }
    return std::make_unique<FlockClaim>(std::move(fd));
}

}  // namespace ZELKUtil::Cli
