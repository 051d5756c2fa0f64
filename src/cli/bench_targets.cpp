// Which boxes the command line names: by port, by serial, or all of them.
#include "cli/bench_runner.h"

namespace ZELKUtil::Cli {

std::string BenchRunner::SerialOn(const std::string& port, const Package& package,
                                  const HistoryFile& history) {
    if (port.empty()) {
        return "";
    }
    const std::vector<Events::Found> found = Look(package, port);
    if (found.empty()) {
        return "";
    }
    if (found.front().mode == BoxMode::Normal) {
        return found.front().serial;
    }
    // A box in its bootloader tells no serial: only the record its road left on the port says
    // whose it is.
    const std::optional<HistoryRecord> left = UnfinishedElsewhere(history, port);
    return left ? left->serial : "";
}

bool BenchRunner::NamedBySerial(const std::string& port, const Package& package,
                                const HistoryFile& history) {
    if (options_.serials.empty() || strangers_.count(port) != 0) {
        return false;
    }
    const std::string serial = SerialOn(port, package, history);
    if (!serial.empty() && Listed(options_.serials, serial)) {
        return true;
    }
    strangers_.insert(port);
    return false;
}

std::vector<std::string> BenchRunner::AskedPorts(const std::vector<std::string>& there,
                                                 const Package& package,
                                                 const HistoryFile& history) {
    if (options_.all) {
        return there;
    }
    std::vector<std::string> asked = options_.ports;
    if (options_.serials.empty()) {
        return asked;
    }
    std::vector<std::string> seen;
    for (const std::string& port : there) {
        const std::string serial = SerialOn(port, package, history);
        if (!serial.empty() && Listed(options_.serials, serial)) {
            seen.push_back(serial);
            if (!Listed(asked, port)) {
                asked.push_back(port);
            }
        } else if (!Listed(asked, port)) {
            strangers_.insert(port);
        }
    }
    // Under --watch a serial named waits for its box.
    for (const std::string& serial : options_.serials) {
        if (!options_.watch && !Listed(seen, serial)) {
            Say("serial " + serial + ": no box present has this serial");
            missingSerials_.push_back(serial);
        }
    }
    return asked;
}

}  // namespace ZELKUtil::Cli
