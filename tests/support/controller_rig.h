#pragma once

#include <string>
#include <vector>

#include "scenario/scenario_world.h"
#include "support/temp_package.h"

namespace ZELKUtil::Testing {

// A box whose product string is `product`, under the default IDs.
inline ZELKSim::BoxIdentity BoxNamed(std::wstring product = L"ZELK Q750") {
    return {.product = std::move(product)};
}

// Holds the package folder so that it exists before the world that runs in it.
struct PackageHolder {
    TempPackage pkg;
};

// A whole emulated world around one controller, in a package folder of its own.
struct ControllerRig : PackageHolder, ZELKSim::ScenarioWorld {
    explicit ControllerRig(ZELKSim::BoxIdentity identity = {})
        : ZELKSim::ScenarioWorld(pkg.Root(), std::move(identity)) {}

    // Writes the version file, a profile file with the given "detail" elements, the tools and the
    // driver installers.
    void Package(const std::string& version, const std::string& details,
                 const std::vector<std::string>& tools = {PackageFiles::kDfuUtil});
};

// A stand-in STAPL player for real child processes: it identifies a blank A3P060 and programs it,
// printing `progressLines` progress lines, its verdict being its last words.
std::string StandInPlayerScript(int progressLines);

// A "detail" element.
std::string Detail(const std::string& type, const std::string& id, const std::string& name,
                   const std::string& arm, const std::string& a3p = "",
                   const std::string& a3pn = "", const std::string& pid = "0x0706");

}  // namespace ZELKUtil::Testing
