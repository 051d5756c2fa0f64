#include "cli/bench_runner.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "cli/cli_help.h"
#include "controller/version_match.h"
#include "device/zelk.h"
#include "package/package_findings.h"
#include "platform/files.h"

namespace ZELKUtil::Cli {
BenchRunner::BenchRunner(BenchSeams seams, Options options, const std::atomic<bool>& stopping)
    : seams_(std::move(seams)), options_(std::move(options)), stopping_(stopping) {}

int BenchRunner::Run() {
    // Every command's lines carry the run's id, and its summary the time from here.
    runId_ = NewRunId(seams_.utcNow());
    startMs_ = seams_.clock.NowMs();
    int code = kExitSoftware;
    // A fault that escapes the command still ends the stream as every run's does.
    try {
        code = RunCommand();
    } catch (const std::exception& fault) {
        code =
            Fail(kExitSoftware, std::string("zelk-cli: the run ended in a fault: ") + fault.what());
    } catch (...) {
        code = Fail(kExitSoftware, "zelk-cli: the run ended in an unknown fault");
    }
    Conclude(code);
    return code;
}

int BenchRunner::RunCommand() {
    switch (options_.command) {
        case Command::List:
            return List(false);
        case Command::Check:
            return List(true);
        case Command::Upgrade:
            return Upgrade();
        case Command::History:
            return ShowHistory();
    }
    return kExitUsage;
}

std::optional<BenchRunner::Package> BenchRunner::CheckPackage(bool noneWillDo) {
    // What the window's start-up reads, and why a bench cannot use it.
    if (!Files::Exists(options_.package)) {
        return NoPackage(noneWillDo, "it does not exist");
    }
    const PackageFindings found = ReadPackageFindings(options_.package);
    if (std::optional<std::string> why = found.WhyUnusable()) {
        why->erase(std::remove(why->begin(), why->end(), '\r'), why->end());
        std::replace(why->begin(), why->end(), '\n', ' ');
        return NoPackage(noneWillDo, *why);
    }
    Package package;
    package.versionLine = found.version.value_or("");
    package.profiles = found.profiles;
    package.dfuUtil = found.dfuUtil;
    package.fpgaImages = found.fpgaImages > 0;
    return package;
}

std::optional<BenchRunner::Package> BenchRunner::NoPackage(bool noneWillDo,
                                                           const std::string& why) {
    if (noneWillDo) {
        // The bus as it is: no package, no verdict; boxes in normal mode under the default IDs.
        return Package{};
    }
    Fail(kExitPackage, "The package in " + AbsoluteFolder(options_.package) + " cannot be used: " +
                           why + ". Name the package's folder with --package DIR.");
    return std::nullopt;
}

std::string BenchRunner::AbsoluteFolder(const std::string& folder) {
    if (const auto resolved = Files::Resolve(folder)) {
        return resolved.value();
    }
    // A folder that is not there cannot be resolved: its name as given, from the working
    // directory where it is relative (as given when even that cannot be told).
    std::error_code error;
    const std::filesystem::path full =
        std::filesystem::absolute(std::u8string(folder.begin(), folder.end()), error);
    if (error) {
        return folder;
    }
    const std::u8string text = full.lexically_normal().u8string();
    return {text.begin(), text.end()};
}

namespace {

Events::Found FoundEvent(const std::string& port, BoxMode mode, bool withPackage) {
    Events::Found event;
    event.port = port;
    event.mode = mode;
    if (withPackage) {
        event.verdict = kVerdictUnknown;
    }
    return event;
}

// The normal-mode IDs of the package's boxes; without a package, the boxes' own.
std::vector<std::pair<std::uint16_t, std::uint16_t>> IdsOf(const BenchRunner::Package& package) {
    if (package.profiles.empty()) {
        return {{kDefaultVid, kDefaultPid}};
    }
    return NormalModeIds(package.profiles);
}

}  // namespace

std::vector<Events::Found> BenchRunner::Look(const Package& package,
                                             const std::optional<std::string>& only) {
    BoxPlatform& platform = LookPlatform();
    HidTransport& transport = platform.Transport();
    ReadPathModes modes;
    ZELK device(transport, platform.Probe(), seams_.clock, modes);
    // A box whose port the system does not tell is talked to only when it is alone on the bus:
    // nothing confines the look to it, so another box could answer. Each such box is one of its
    // own. Asked only when there is one.
    const auto alone = [&device, &package] { return device.BoxPorts(IdsOf(package)).size() == 1; };
    std::vector<Events::Found> found;
    // A port already found, or one not asked about: a box in another run is never disturbed.
    const auto seen = [&found, &only](const std::string& port) {
        return (only && port != *only) ||
               std::any_of(found.begin(), found.end(),
                           [&port](const Events::Found& f) { return f.port == port; });
    };
    for (const auto& [vid, pid] : IdsOf(package)) {
        for (const std::string& port : transport.hid_ports(vid, pid)) {
            if (only && port != *only) {
                continue;
            }
            if (port.empty() && !alone()) {
                found.push_back(FoundEvent(port, BoxMode::Normal, !package.profiles.empty()));
            } else if (!seen(port)) {
                found.push_back(LookAt(device, transport, port, {vid, pid}, package));
            }
        }
    }
    for (const std::string& port : device.ProgrammerPorts()) {
        if (!seen(port)) {
            found.push_back(FoundEvent(port, BoxMode::Programmer, !package.profiles.empty()));
        }
    }
    for (const ProbeMatch& match : device.Bootloaders()) {
        if (!seen(match.port)) {
            found.push_back(FoundEvent(match.port, BoxMode::Bootloader, !package.profiles.empty()));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Events::Found& a, const Events::Found& b) { return a.port < b.port; });
    return found;
}

bool BenchRunner::Listed(const std::vector<std::string>& words, const std::string& word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

bool BenchRunner::Named(const Events::Found& box) const {
    if (options_.ports.empty() && options_.serials.empty()) {
        return true;
    }
    return Listed(options_.ports, box.port) ||
           (!box.serial.empty() && Listed(options_.serials, box.serial));
}

Events::Found BenchRunner::LookAt(ZELK& device, HidTransport& transport, const std::string& port,
                                  std::pair<std::uint16_t, std::uint16_t> ids,
                                  const Package& package) {
    Events::Found box = FoundEvent(port, BoxMode::Normal, !package.profiles.empty());
    transport.hid_confine_to_port(Confinement(port));
    device.setVid(static_cast<std::int16_t>(ids.first));
    device.setPid(static_cast<std::int16_t>(ids.second));
    box.version = device.GetVersion();
    const std::string product = device.GetManufacturer();
    box.serial = device.GetSerial();
    device.Close();
    transport.hid_confine_to_port(std::nullopt);
    box.product = product;
    const auto named = std::find_if(package.profiles.begin(), package.profiles.end(),
                                    [&product](const ZelkProfile& p) { return p.name == product; });
    if (named != package.profiles.end()) {
        box.model = named->id;
    }
    if (package.profiles.empty()) {
        // Without a package there is nothing to tell of an upgrade.
        box.verdict.clear();
        return box;
    }
    if (!box.version.empty()) {
        box.upToDate = PackageHasVersion(package.versionLine, box.version);
    }
    box.verdict = VerdictOf(named != package.profiles.end(), box.upToDate);
    return box;
}

std::vector<std::string> BenchRunner::PresentPorts(const Package& package) {
    BoxPlatform& platform = LookPlatform();
    ReadPathModes modes;
    ZELK device(platform.Transport(), platform.Probe(), seams_.clock, modes);
    // Each box once; every box whose port the system does not tell stays an entry of its own.
    std::vector<std::string> ports = device.BoxPorts(IdsOf(package));
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::vector<std::string> BenchRunner::ProgrammersOnBus() {
    if (!programmerLook_) {
        programmerLook_ = seams_.newPlatform();
    }
    ReadPathModes modes;
    ZELK device(programmerLook_->Transport(), programmerLook_->Probe(), seams_.clock, modes);
    return device.ProgrammerPorts();
}

BoxPlatform& BenchRunner::LookPlatform() {
    if (!lookPlatform_) {
        lookPlatform_ = seams_.newPlatform();
    }
    return *lookPlatform_;
}

void BenchRunner::Emit(const BoxEvent& event) {
    const std::lock_guard<std::mutex> lock(outputLock_);
    if (const auto* state = std::get_if<Events::State>(&event)) {
        states_[state->port] = state->state;
    } else if (std::holds_alternative<Events::Ended>(event)) {
        states_.erase(PortOf(event));
    }
    if (options_.command != Command::Upgrade) {
        if (const auto* found = std::get_if<Events::Found>(&event)) {
            found_.push_back(*found);
        }
    }
    if (options_.json) {
        seams_.out(ToJsonLine(event, Stamp()));
    } else if (options_.quiet) {
        // Results only: how each box ended, and what list and check found.
        const bool result =
            std::holds_alternative<Events::Ended>(event) ||
            (options_.command != Command::Upgrade && std::holds_alternative<Events::Found>(event));
        if (const std::optional<std::string> line = ToHumanLine(event); line && result) {
            seams_.out(*line);
        }
    } else if (seams_.terminal) {
        seams_.terminal(board_.Show(event, options_.verbose));
    } else if (const std::optional<std::string> line = ToHumanLine(event, options_.verbose)) {
        // Without a terminal, each step of a box's road and its end: what a file or a pipe keeps
        // is the same on every run.
        seams_.out(*line);
    }
}

void BenchRunner::Say(const std::string& line) {
    const std::lock_guard<std::mutex> lock(outputLock_);
    const bool board = seams_.terminal && !options_.json;
    if (board) {
        seams_.terminal(board_.Erase());
    }
    seams_.err(line);
    if (board) {
        seams_.terminal(board_.Draw());
    }
}

int BenchRunner::Fail(int exitCode, const std::string& message) {
    Say(message);
    if (options_.json) {
        const std::lock_guard<std::mutex> lock(outputLock_);
        seams_.out(ToJsonLine(RunError{message, exitCode}, Stamp()));
    }
    return exitCode;
}

void BenchRunner::Conclude(int exitCode) {
    // The history's lines are its records, which need no end of their own.
    if (!options_.json || options_.command == Command::History) {
        return;
    }
    const std::lock_guard<std::mutex> lock(outputLock_);
    // Stamped first: the wall time runs to the moment the summary is written, never short of it.
    const LineStamp stamp = Stamp();
    RunSummary summary;
    summary.command = CommandName(options_.command);
    summary.exitCode = exitCode;
    summary.wallMs = seams_.clock.NowMs() - startMs_;
    summary.boxes = summaryRows_;
    summary.found = found_;
    seams_.out(ToJsonLine(summary, stamp));
}

LineStamp BenchRunner::Stamp() const {
    return {UtcMsText(seams_.utcNowMs()), runId_};
}

int BenchRunner::List(bool check) {
    const std::optional<Package> package = CheckPackage(!check && !options_.packageGiven);
    if (!package) {
        return kExitPackage;
    }
    std::vector<Events::Found> found = Look(*package);
    std::erase_if(found, [this](const Events::Found& box) { return !Named(box); });
    if (found.empty()) {
        return Fail(kExitNoBox, options_.ports.empty() && options_.serials.empty()
                                    ? "No box found."
                                    : "No box named was found.");
    }
    bool allUpToDate = true;
    bool wrongPackage = false;
    for (const Events::Found& box : found) {
        Emit(box);
        allUpToDate = allUpToDate && box.verdict == kVerdictUpToDate;
        wrongPackage = wrongPackage || box.verdict == kVerdictWrongPackage;
    }
    if (!check) {
        return kExitOk;
    }
    if (wrongPackage) {
        return kExitWrongPackage;
    }
    return allUpToDate ? kExitOk : kExitUpgradeDue;
}

}  // namespace ZELKUtil::Cli
