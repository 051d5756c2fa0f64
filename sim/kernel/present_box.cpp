#include "kernel/present_box.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <utility>

#include "box/emulated_box.h"
#include "kernel/gadget_box.h"
#include "kernel/uhid_box.h"
#include "platform/files.h"
#include "platform/result.h"
#include "platform/utf8.h"
#include "time/real_time_clock.h"

namespace ZELKSim {
namespace {

constexpr int kLookMs = 50;

// A serial the box's answer holds: one to six letters or digits.
bool SerialFits(const std::string& text) {
    return !text.empty() && text.size() <= 6 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

// The firmware version a state file keeps: its first line; nullopt when there is none.
std::optional<std::string> KeptVersion(const std::string& stateFile) {
    if (stateFile.empty() || !ZELKUtil::Files::Exists(stateFile)) {
        return std::nullopt;
    }
    const auto head = ZELKUtil::Files::ReadHead(stateFile, 256);
    if (!head) {
        return std::nullopt;
    }
    return head.value().substr(0, head.value().find('\n'));
}

// Keeps the version for the next present: written beside the file and renamed over it, so that
// the file holds one version or the other, never half of one.
bool KeepVersion(const std::string& stateFile, const std::string& version, std::string* error) {
    const std::string next = stateFile + ".new";
    {
        std::ofstream file(next, std::ios::trunc);
        file << version << "\n";
        if (!file.flush()) {
            *error = "cannot write " + next;
            return false;
        }
    }
    if (std::rename(next.c_str(), stateFile.c_str()) != 0) {
        *error = "cannot replace " + stateFile + ": " + ZELKUtil::ErrnoText(errno);
        return false;
    }
    return true;
}

bool ParseController(const std::string& text, unsigned* controller) {
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *controller = static_cast<unsigned>(std::stoul(text));
    return true;
}

// One of the two fronts, seen the same way by the loop below.
struct Front {
    std::unique_ptr<GadgetBox> gadget;
    std::unique_ptr<UhidBox> uhid;

    bool Start(std::string* error) { return gadget ? gadget->Start(error) : uhid->Start(error); }
    std::string PumpError() const { return gadget ? gadget->PumpError() : uhid->PumpError(); }
    std::optional<CompletedDownload> LastDownload() const {
        return gadget ? gadget->LastDownload() : std::nullopt;
    }
};

// What the loop has told so far, so that each change is told once.
struct Told {
    BoxMode mode;
    std::string firmware;
    std::int64_t downloadEndMs = -1;
};

void TellChanges(const EmulatedBox& box, const Front& front, Told* told, std::ostream& out,
                 const std::string& stateFile, std::ostream& err) {
    if (const BoxMode mode = box.Mode(); mode != told->mode) {
        told->mode = mode;
        out << "mode: " << ModeText(mode) << std::endl;
    }
    if (const auto download = front.LastDownload();
        download && download->endMs != told->downloadEndMs) {
        told->downloadEndMs = download->endMs;
        out << "download: " << download->bytes << " bytes in " << download->Ms() << " ms"
            << std::endl;
    }
    if (std::string firmware = box.FirmwareVersion(); firmware != told->firmware) {
        told->firmware = std::move(firmware);
        out << "firmware: " << told->firmware << std::endl;
        std::string error;
        if (!stateFile.empty() && !KeepVersion(stateFile, told->firmware, &error)) {
            err << "zelk-sim: the firmware is not kept for the next present: " << error
                << std::endl;
        }
    }
}

}  // namespace

std::optional<PresentOptions> ParsePresentArguments(const std::vector<std::string>& arguments,
                                                    std::string* error) {
    PresentOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--uhid") {
            options.uhid = true;
        } else if (argument == "--version" && hasValue) {
            options.version = arguments[++i];
        } else if (argument == "--product" && hasValue) {
            options.product = ZELKUtil::Utf8ToWide(arguments[++i]);
        } else if (argument == "--serial" && hasValue) {
            options.serial = arguments[++i];
            if (!SerialFits(options.serial)) {
                *error = "--serial takes one to six letters or digits";
                return std::nullopt;
            }
        } else if (argument == "--mode" && hasValue) {
            const std::string& mode = arguments[++i];
            if (mode != "normal" && mode != "bootloader") {
                *error = "--mode takes normal or bootloader";
                return std::nullopt;
            }
            options.bootloader = mode == "bootloader";
        } else if (argument == "--state" && hasValue) {
            options.stateFile = arguments[++i];
        } else if (argument == "--controller" && hasValue) {
            if (!ParseController(arguments[++i], &options.controller)) {
                *error = "--controller takes a number from 0 to 99";
                return std::nullopt;
            }
        } else {
            *error = "unknown or incomplete argument: " + argument;
            return std::nullopt;
        }
    }
    if (options.uhid && options.controller != 0) {
        *error = "--controller names a USB device controller; --uhid uses none";
        return std::nullopt;
    }
    if (options.uhid && options.bootloader) {
        *error = "--uhid puts the box on the bus in normal mode only";
        return std::nullopt;
    }
    return options;
}

int PresentBox(const PresentOptions& options, const StopWait& stopWait, std::ostream& out,
               std::ostream& err) {
    RealTimeClock clock;
    EmulatedBox box(clock, BoxIdentity{0x14E3, 0x0706, options.product});
    const std::string version = KeptVersion(options.stateFile).value_or(options.version);
    box.SetFirmwareVersion(version);
    box.SetSerial(options.serial);
    if (options.bootloader) {
        box.Plug(BoxMode::Bootloader);
    }
    Front front;
    if (options.uhid) {
        front.uhid = std::make_unique<UhidBox>(box, true);
    } else {
        front.gadget = std::make_unique<GadgetBox>(box, clock, DfuFaults{}, options.controller);
    }
    std::string error;
    if (!front.Start(&error)) {
        err << "zelk-sim: the box cannot be put on the bus: " << error << std::endl;
        return 1;
    }
    const std::string where = options.uhid ? "the HID bus through /dev/uhid"
                                           : "port " + PortOfController(options.controller);
    out << "present: " << ZELKUtil::WideToUtf8(options.product) << " " << version << ", serial "
        << options.serial << ", on " << where << "; Ctrl+C takes it off the bus" << std::endl;
    if (std::string kept;
        !options.stateFile.empty() && !KeepVersion(options.stateFile, version, &kept)) {
        err << "zelk-sim: the firmware is not kept for the next present: " << kept << std::endl;
    }
    Told told{BoxMode::Absent, version};
    while (!stopWait(kLookMs)) {
        TellChanges(box, front, &told, out, options.stateFile, err);
        if (const std::string failure = front.PumpError(); !failure.empty()) {
            err << "zelk-sim: the box left the bus: " << failure << std::endl;
            return 1;
        }
    }
    out << "mode: " << ModeText(BoxMode::Absent) << std::endl;
    return 0;
}

}  // namespace ZELKSim
