#include "demo/demo_world.h"

#include "package/package_files.h"
#include "package/profile_file.h"

namespace ZELKSim {
namespace {

constexpr const char* kBoxVersion = "2.01";

// The box looks like the package's first variant, with older firmware.
BoxIdentity IdentityFor(const std::string& package) {
    BoxIdentity identity;
    const auto file =
        ZELKUtil::ReadProfileFile(package + "/" + ZELKUtil::PackageFiles::kProfileFile);
    if (file && !file.value().empty()) {
        const ZELKUtil::ZelkProfile& p = file.value().front();
        identity.vid = static_cast<std::uint16_t>(p.vid);
        identity.pid = static_cast<std::uint16_t>(p.pid);
        identity.product = std::wstring(p.name.begin(), p.name.end());
    }
    return identity;
}

}  // namespace

DemoWorld::DemoWorld(const std::string& package)
    : box(timeline, IdentityFor(package)), tools(timeline, box, package) {
    box.SetFirmwareVersion(kBoxVersion);
    box.SetRestartMs(2500);
    box.SetEye(0);
    // Slow enough to watch.
    tools.Settings().stepMs = 120;
    tools.Settings().dfuUtilBarLength = 30;
    tools.Settings().staplPercentLines = 10;
    tools.Settings().installerMs = 1500;
    box.SetFpgaIdcode(0x029121CF);
    box.SetFpgaChecksum(0x1234);
}

}  // namespace ZELKSim
