#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "controller/box_ledger.h"
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
    // Progress marks and whether verification began, for the controller's events.
    int marks = 0;
    bool verifying = false;
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

    // The boxes this run knows: where each is on its road, its bounds and its bootloader visit.
    BoxLedger ledger;

    // What the FPGA tool's output reader hands to the window's thread. Shared, so that a reader
    // thread that outlives the controller (children outlive the utility) never writes into freed
    // memory.
    std::shared_ptr<StaplHandover> stapl = std::make_shared<StaplHandover>();
};

}  // namespace ZELKUtil
