#include "scenario/scenario_world.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

#include "cleanup/temp_folders.h"
#include "package/package_files.h"

namespace ZELKSim {

namespace fs = std::filesystem;
namespace PackageFiles = ZELKUtil::PackageFiles;
using ZELKUtil::UpgradeController;

void RecordingClock::SleepMs(std::int64_t ms) {
    waits_.push_back(ms);
    if (onWait) {
        onWait(ms);
    }
    SliceMs(ms);
}

void RecordingClock::SliceMs(std::int64_t ms) {
    sleeps.push_back(ms);
    if (onSleep) {
        onSleep(ms);
    }
    clock_.SleepMs(ms);
    if (afterWait) {
        afterWait();
    }
}

ZELKUtil::Error ErrorFromErrorCode(std::string operation, const std::error_code& ec) {
    // The portable condition of a system error is an errno value on every platform.
    return {ZELKUtil::KindOfErrno(ec.default_error_condition().value()), std::move(operation),
            ec.message()};
}

ZELKUtil::Result<void> WritePackageFile(const std::string& root, const std::string& relative,
                                        const std::string& content, bool executable) {
    const fs::path path = fs::path(root) / relative;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        return ErrorFromErrorCode("cannot make the folder of " + path.string(), ec);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        return ZELKUtil::ErrorFromErrno("cannot write " + path.string(), errno);
    }
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    file.close();
    if (!file) {
        return ZELKUtil::ErrorFromErrno("cannot write " + path.string(), errno);
    }
    // A file written again as a program becomes one, whatever it was before.
    using fs::perms;
    const perms mode =
        perms::owner_read | perms::owner_write | perms::group_read | perms::others_read |
        (executable ? perms::owner_exec | perms::group_exec | perms::others_exec : perms::none);
    fs::permissions(path, mode, fs::perm_options::replace, ec);
    if (ec) {
        return ErrorFromErrorCode("cannot set the mode of " + path.string(), ec);
    }
    return {};
}

ZELKUtil::Result<void> WritePackage(const std::string& root, const PackageContents& contents) {
    ZELKUtil::Result<void> written;
    const auto write = [&](const std::string& relative, const std::string& content,
                           bool executable) {
        if (written) {
            written = WritePackageFile(root, relative, content, executable);
        }
    };
    if (contents.version) {
        write(PackageFiles::kVersionFile, *contents.version + "\r\n", false);
    }
    if (contents.details) {
        write(PackageFiles::kProfileFile,
              "<?xml version=\"1.0\"?>\n<zelk>" + *contents.details + "</zelk>", false);
    }
    for (const std::string& file : contents.files) {
        write(file, "content of " + file + "\n", false);
    }
    // Stand-ins: the emulated process service runs the tools, it only needs them to exist.
    for (const std::string& tool : contents.tools) {
        write(tool, "#!/bin/sh\n", true);
    }
    if (contents.drivers) {
        for (const char* folder :
             {PackageFiles::kDriverFolderLibusbk, PackageFiles::kDriverFolderNxp}) {
            for (const char* installer :
                 {PackageFiles::kDriverInstaller, PackageFiles::kDriverInstaller64}) {
                write(std::string(folder) + installer, "#!/bin/sh\n", true);
            }
        }
    }
    return written;
}

ScratchFolder::~ScratchFolder() {
    if (!root_.empty()) {
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
        ForgetTempFolder(root_);
    }
}

ZELKUtil::Result<void> ScratchFolder::Create() {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) {
        return ErrorFromErrorCode("no temporary folder", ec);
    }
    // A new folder under a random name: creating it fails when the name is taken, so no other
    // process can have made it first.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = temp / ("zelk-pkg-" + std::to_string(random()));
        if (fs::create_directory(candidate, ec)) {
            root_ = candidate.string();
            KeepTempFolder(root_);
            return {};
        }
        if (ec) {
            return ErrorFromErrorCode("cannot make a folder in " + temp.string(), ec);
        }
    }
    return ZELKUtil::Error{ZELKUtil::ErrorKind::InUse, "cannot make a folder in " + temp.string(),
                           "every name tried is taken"};
}

ScenarioWorld::ScenarioWorld(std::string packageFolder, BoxIdentity identity)
    : packageRoot(std::move(packageFolder)), box(clock, std::move(identity)) {}

ScenarioWorld::~ScenarioWorld() {
    controller.reset();
}

ZELKUtil::UpgradeController& ScenarioWorld::Start(ZELKUtil::ProcessService* processes) {
    controller = std::make_unique<UpgradeController>(
        ZELKUtil::ControllerSeams{view, controllerClock, device,
                                  processes != nullptr ? *processes : tools, packageRoot, machine});
    controller->InitializeApplication();
    return *controller;
}

EmulatedBox& ScenarioWorld::AddBox(const std::string& port) {
    if (EmulatedBox* there = bus.OnPort(port)) {
        return *there;
    }
    EmulatedBox& added = moreBoxes.emplace_back(clock, BoxIdentity{}, port);
    added.SetPresenceListener(presenceListener);
    bus.Attach(added);
    return added;
}

void ScenarioWorld::SetPresenceListener(const std::function<void(BoxMode)>& listener) {
    presenceListener = listener;
    for (EmulatedBox* each : bus.Boxes()) {
        each->SetPresenceListener(listener);
    }
}

void ScenarioWorld::Tick() {
    controller->TimerCheck_Tick();
    clock.SleepMs(kTimerIntervalMs);
}

void ScenarioWorld::Ticks(int count) {
    for (int i = 0; i < count; ++i) {
        Tick();
    }
}

}  // namespace ZELKSim
