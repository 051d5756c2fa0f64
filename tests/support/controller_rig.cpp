#include "support/controller_rig.h"

#include "package/package_files.h"

namespace ZELKUtil::Testing {

std::vector<std::int64_t> RecordingClock::Waits() const {
    std::vector<std::int64_t> waits;
    for (const std::int64_t ms : sleeps) {
        if (ms != UpgradeController::kChildPollMs && ms != UpgradeController::kOutputPollMs) {
            waits.push_back(ms);
        }
    }
    return waits;
}

ControllerRig::ControllerRig(ZELKSim::BoxIdentity identity) : box(clock, std::move(identity)) {}

ControllerRig::~ControllerRig() {
    controller.reset();
}

void ControllerRig::Package(const std::string& version, const std::string& details,
                            const std::vector<std::string>& toolNames) {
    pkg.Write(PackageFiles::kVersionFile, version + "\r\n");
    pkg.Write(PackageFiles::kProfileFile, "<?xml version=\"1.0\"?>\n<zelk>" + details + "</zelk>");
    for (const std::string& tool : toolNames) {
        pkg.WriteProgram(tool, "#!/bin/sh\n");
    }
    for (const char* folder :
         {PackageFiles::kDriverFolderLibusbk, PackageFiles::kDriverFolderNxp}) {
        for (const char* installer :
             {PackageFiles::kDriverInstaller, PackageFiles::kDriverInstaller64}) {
            pkg.WriteProgram(std::string(folder) + "/" + installer, "#!/bin/sh\n");
        }
    }
}

UpgradeController& ControllerRig::Start() {
    controller = std::make_unique<UpgradeController>(
        ControllerSeams{view, controllerClock, device, processes != nullptr ? *processes : tools,
                        pkg.Root(), machine});
    controller->InitializeApplication();
    return *controller;
}

void ControllerRig::Tick() {
    controller->TimerCheck_Tick();
    clock.SleepMs(1000);
}

void ControllerRig::Ticks(int count) {
    for (int i = 0; i < count; ++i) {
        Tick();
    }
}

std::string Detail(const std::string& type, const std::string& id, const std::string& name,
                   const std::string& arm, const std::string& a3p, const std::string& a3pn,
                   const std::string& pid) {
    return "<detail profile=\"" + type + "\" vid=\"0x14E3\" pid=\"" + pid + "\" id=\"" + id +
           "\" name=\"" + name + "\" LPC3131=\"" + arm + "\" A3P060=\"" + a3p + "\" A3PN060=\"" +
           a3pn + "\"/>";
}

}  // namespace ZELKUtil::Testing
