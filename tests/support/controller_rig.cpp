#include "support/controller_rig.h"

#include <stdexcept>

namespace ZELKUtil::Testing {

void ControllerRig::Package(const std::string& version, const std::string& details,
                            const std::vector<std::string>& toolNames) {
    ZELKSim::PackageContents contents;
    contents.version = version;
    contents.details = details;
    contents.tools = toolNames;
    if (const auto written = ZELKSim::WritePackage(pkg.Root(), contents); !written) {
        throw std::runtime_error(written.error().Text());
    }
}

std::string StandInPlayerScript(int progressLines) {
    return "#!/bin/sh\n"
           "case \"$*\" in\n"
           "  *DEVICE_INFO*) echo 'Export: key = \"IDCODE\", value = HEX 029121CF'\n"
           "                 echo 'CHECKSUM: FFFF' ;;\n"
           "  *) i=0; while [ $i -lt " +
           std::to_string(progressLines) +
           " ]; do echo \"PERCENT_DONE = $i\"; i=$((i+1)); done\n"
           "     echo 'Verifying FPGA Array -- pass' ;;\n"
           "esac\n";
}

std::string Detail(const std::string& type, const std::string& id, const std::string& name,
                   const std::string& arm, const std::string& a3p, const std::string& a3pn,
                   const std::string& pid) {
    return "<detail profile=\"" + type + "\" vid=\"0x14E3\" pid=\"" + pid + "\" id=\"" + id +
           "\" name=\"" + name + "\" LPC3131=\"" + arm + "\" A3P060=\"" + a3p + "\" A3PN060=\"" +
           a3pn + "\"/>";
}

}  // namespace ZELKUtil::Testing
