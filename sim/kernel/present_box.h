#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// `zelk-sim present`: an emulated box on this machine's own kernel, for trying the real programs
// (the window, zelk-cli, dfu-util) on the real hidraw, udev and USB stack without a box. The
// gadget front puts it on a dummy_hcd USB bus in all three modes; the uhid front only in normal
// mode, without a USB device, but needs no gadget support.
namespace ZELKSim {

struct PresentOptions {
    bool uhid = false;
    std::string version = "2.01";
    std::wstring product = L"ZELK Q750";
    std::string serial = "000001";
    bool bootloader = false;  // starts in its bootloader rather than in normal mode
    unsigned controller = 0;  // which dummy_hcd device controller, in name order
    // Where the box keeps its firmware version between two presents (a re-plug): read at the
    // start when it exists, in place of `version`, and written at every change. "": nowhere.
    std::string stateFile;
};

// The options after "present"; nullopt with the reason in *error.
std::optional<PresentOptions> ParsePresentArguments(const std::vector<std::string>& arguments,
                                                    std::string* error);

// Waits up to `ms`; true once the box should be taken off the bus.
using StopWait = std::function<bool(int ms)>;

// Puts the box on the bus and tells of what happens to it (its modes, its downloads, its
// firmware) until `stopWait` says to stop: 0 then, 1 when the front cannot start or fails.
int PresentBox(const PresentOptions& options, const StopWait& stopWait, std::ostream& out,
               std::ostream& err);

}  // namespace ZELKSim
