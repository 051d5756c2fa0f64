#pragma once

#include <memory>
#include <string>

namespace ZELKUtil::Cli {

// A zelk-cli process's hold on one USB port: while it lives, no other zelk-cli works on the box
// there. The system lets it go when its holder ends, however it ends.
class PortClaim {
  public:
    virtual ~PortClaim() = default;
};

// Claims the port for this process: null when another process holds it. A claim that the system
// cannot make at all (no place for it) is made as an empty one, after saying why on `say`.
std::unique_ptr<PortClaim> ClaimPort(const std::string& port, std::string* why);

// The name a port's claim goes by: its characters that are no letter, digit, '-' or '.' as "_XX"
// (hex), so that every port is a name of its own and none leaves its folder or namespace.
std::string PortClaimName(const std::string& port);

}  // namespace ZELKUtil::Cli
