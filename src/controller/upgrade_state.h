#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "package/zelk_profile.h"
#include "platform/process_service.h"

namespace ZELKUtil {

enum upgradeMode_ : std::int32_t {
    auto_upgrade = 0,    // a run starts by itself after a countdown
    manual_upgrade = 1,  // the operator ticks what to program
};

// The fields the FPGA tool's output reader writes on its own thread, under one lock.
struct StaplHandover {
    std::mutex lock;
    // Progress text gathered since the last poll took it.
    std::string STAPL_Player_Output;
    std::int32_t fpga_just_programmed = 0;
    // The last output line that held "Exit code".
    std::string error;
    // The previous non-empty output line, across runs.
    std::string prevStaplLine;
    // The reader has seen the end of the tool's output: every line has been handled.
    bool outputEnded = false;
    // Nobody takes the progress text any more (the window has closed): the reader drops it.
    bool abandoned = false;
};

// Everything an upgrade carries from one poll to the next. One instance lives as long as the
// process in the product; tests make a fresh one each. Flags hold 0 or 1. Texts that may be absent
// read as "".
struct UpgradeState {
    std::int32_t connected = 0;
    std::int32_t operation_underway = 0;
    std::int32_t arm_just_programmed = 0;
    std::int32_t force_bootloader = 0;
    std::string prevStatus;
    std::string version;
    std::int32_t checking_currently = 0;
    std::int32_t startCountDown = 0;
    std::int32_t fpgaImagePresent = 0;  // a count of FPGA images found at start-up
    std::int32_t armImagePresent = 0;   // a count of ARM images found at start-up
    std::string fpga_image;
    std::int32_t error_occurred = 0;
    std::int32_t currently_programming_fpga = 0;
    std::int32_t fpga_erase_first = 0;
    // Also cleared by the installer's exit notification, which runs on another thread and may run
    // after the controller is gone (children outlive the utility): shared with that notification.
    std::shared_ptr<std::atomic<std::int32_t>> driversInstalling =
        std::make_shared<std::atomic<std::int32_t>>(0);
    std::int32_t driversInstalled = 0;
    std::int32_t fpga_usb_quick = 1;
    std::optional<ZelkProfile> current_profile;
    upgradeMode_ upgradeMode = auto_upgrade;
    std::unique_ptr<ChildProcess> STAPL_Player;
    std::unique_ptr<ChildProcess> driversProc;
    std::int32_t useDfuUtil = 0;
    std::int32_t diagOutput = 0;
    std::optional<std::vector<ZelkProfile>> profiles;

    // Values the poll keeps for the program's life.
    // The echo toggle of the DFUAPP download, carried from one download to the next.
    std::int32_t skip = 1;
    // driversInstalling as the first service-mode poll saw it; never updated afterwards.
    std::optional<std::int32_t> lastDriversInstalling;

    // The boxes that this run recognised in normal mode and is upgrading by itself: the USB port
    // each was connected on and the profile it named then. Only a box found in its bootloader on
    // such a port gets an automatic download, and always with that port's profile. Set when its
    // countdown starts; dropped when a box on that port shows the package's version or names no
    // profile of the package.
    struct KnownBox {
        std::string port;
        ZelkProfile profile;
    };
    std::vector<KnownBox> upgradingBoxes;
    // The check boxes were ticked by the countdown (or the rescue below), not by the operator:
    // what they start is an automatic download, for the box above only.
    bool automaticTicks = false;
    // The check boxes as the last poll left them, so that a poll sees the operator's new ticks.
    bool seenArmTick = false;
    bool seenFpgaTick = false;

    // What keeps a failing upgrade from repeating itself for ever.
    // Downloads made in automatic mode since a box last showed the package's version (or since
    // "Boot"): a box that keeps coming back without that version is not flashed again and again.
    std::int32_t autoDownloads = 0;
    // Downloads in a row that the box left mid-way (its tool's output was cut inside the progress
    // bar). They are not the package's fault and do not count above; past their own bound the box
    // is no longer downloaded into by itself when it comes back in its bootloader.
    std::int32_t interruptedDownloads = 0;
    // The box was found in its bootloader by the last poll that looked for it. A visit begins with
    // the first poll that finds it there and ends with the first that finds it elsewhere.
    bool bootloaderVisit = false;
    std::string visitPort;  // where that bootloader was
    // "Boot" sent the box to its bootloader with nothing ticked: that visit downloads nothing.
    bool bootBegunVisit = false;
    // The FPGA job: from the tick of "Program FPGA" until the programmer is reached, or the
    // operator's next "Boot" or tick. Programmer firmware downloads and erases made in it.
    std::int32_t programmerTries = 0;
    std::int32_t fpgaErases = 0;
    // The driver installer could not be started in this bootloader visit.
    bool installerStartFailed = false;
    // The operator has been told in this bootloader visit that the installer reported a failed
    // installation, or a restart it needs.
    bool installerFailureTold = false;
    bool installerRestartTold = false;
    // The operator has been told that more than one box is connected, and not yet that one is.
    bool severalBoxesSaid = false;

    // What the FPGA tool's output reader hands to the window's thread. Shared, so that a reader
    // thread that outlives the controller (children outlive the utility) never writes into freed
    // memory.
    std::shared_ptr<StaplHandover> stapl = std::make_shared<StaplHandover>();
};

}  // namespace ZELKUtil
