#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "controller/process_service.h"
#include "package/zelk_profile.h"

namespace ZELKUtil {

enum upgradeMode_ : std::int32_t {
    auto_upgrade = 0,    // a run starts by itself after a countdown
    manual_upgrade = 1,  // the operator ticks what to program
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
    std::int32_t fpga_just_programmed = 0;
    std::int32_t driversInstalling = 0;
    std::int32_t driversInstalled = 0;
    std::int32_t fpga_usb_quick = 1;
    std::string prevStaplLine;
    std::optional<ZelkProfile> current_profile;
    upgradeMode_ upgradeMode = auto_upgrade;
    std::unique_ptr<ChildProcess> STAPL_Player;
    std::string error;
    std::string STAPL_Player_Output;
    std::unique_ptr<ChildProcess> driversProc;
    std::int32_t useDfuUtil = 0;
    std::int32_t diagOutput = 0;
    std::optional<std::vector<ZelkProfile>> profiles;

    // Values the poll keeps for the program's life.
    // The echo toggle of the DFUAPP download, carried from one download to the next.
    std::int32_t skip = 0;
    // driversInstalling as the first service-mode poll saw it; never updated afterwards.
    std::optional<std::int32_t> lastDriversInstalling;

    // Guards what the FPGA tool's output reader hands to the window's thread:
    // STAPL_Player_Output, fpga_just_programmed, error and prevStaplLine.
    std::mutex staplLock;
};

}  // namespace ZELKUtil
