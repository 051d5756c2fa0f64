#include "cli/port_claim.h"

#include <cstdio>

namespace ZELKUtil::Cli {

std::string PortClaimName(const std::string& port) {
    std::string name = "zelk-port-";
    for (const char c : port) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (plain) {
            name += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02X", static_cast<unsigned char>(c));
            name += hex;
        }
    }
    return name;
}

}  // namespace ZELKUtil::Cli
