#include "kernel/present_box.h"

#include <memory>
#include <ostream>
#include <utility>

#include "box/emulated_box.h"
#include "kernel/gadget_box.h"
#include "kernel/uhid_box.h"
#include "platform/utf8.h"
#include "time/real_time_clock.h"

namespace ZELKSim {
namespace {

constexpr int kLookMs = 50;

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

void TellChanges(const EmulatedBox& box, const Front& front, Told* told, std::ostream& out) {
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
    return options;
}

int PresentBox(const PresentOptions& options, const StopWait& stopWait, std::ostream& out,
               std::ostream& err) {
    RealTimeClock clock;
    EmulatedBox box(clock, BoxIdentity{0x14E3, 0x0706, options.product});
    box.SetFirmwareVersion(options.version);
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
    out << "present: " << ZELKUtil::WideToUtf8(options.product) << " " << options.version << " on "
        << where << "; Ctrl+C takes it off the bus" << std::endl;
    Told told{BoxMode::Absent, options.version};
    while (!stopWait(kLookMs)) {
        TellChanges(box, front, &told, out);
        if (const std::string failure = front.PumpError(); !failure.empty()) {
            err << "zelk-sim: the box left the bus: " << failure << std::endl;
            return 1;
        }
    }
    out << "mode: " << ModeText(BoxMode::Absent) << std::endl;
    return 0;
}

}  // namespace ZELKSim
