#include "tools/emulated_tools.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>

#include "package/package_files.h"
#include "package/version_file.h"
#include "platform/files.h"
#include "tools/emulated_child_process.h"

namespace ZELKSim {
namespace {

using ZELKUtil::StartRequest;
namespace PackageFiles = ZELKUtil::PackageFiles;

bool Has(const std::vector<std::string>& arguments, const std::string& wanted) {
    return std::find(arguments.begin(), arguments.end(), wanted) != arguments.end();
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

// What a step of a tool needs of the box.
enum class BoxUse {
    None,
    Opens,  // the tool opens the device here: the box must be in the tool's mode now
    Holds,  // the device the tool opened must still be on the bus, never having left it
};

// One step of a tool's run: after `afterMs` from the previous step, print `output` and do `effect`.
struct EmulatedProcessService::Step {
    std::int64_t afterMs = 0;
    std::string output;
    std::function<void()> effect;
    // The tool exits in the same instant (its buffered output is flushed as it ends).
    bool exits = false;
    BoxUse box = BoxUse::None;
};

// A tool's whole run, and what it does when the box it works on is gone at a step that needs it:
// as the real tool, it prints its error (or nothing more), exits at once, and the box is left as
// it was.
struct EmulatedProcessService::Script {
    std::vector<Step> steps;
    BoxMode device = BoxMode::Bootloader;
    std::string goneOutput;
    std::function<void()> goneEffect;
    std::uint32_t exitCode = 0;  // when it runs to its end
    // What the tool writes to its error stream as it ends: when the box it works on is gone, and
    // when it runs to its end.
    std::string goneError;
    std::string endError;
};

// One run of a tool: its script, the tool's process, the box's presence when the tool last opened
// it (or started), and whether the box was gone at a step that needed it.
struct EmulatedProcessService::Run {
    EmulatedBox* box = nullptr;  // the box the tool works on, if it found one
    Script script;
    std::weak_ptr<Child> child;
    std::uint64_t opened = 0;
    bool gone = false;
    // Moments at a text of its output that have not come yet.
    std::vector<ToolMoment> moments;
    // Where its error stream goes, when the starter captures it.
    std::function<void(const std::string&)> errorLine;
};

namespace {

// Tells each line of a tool's error stream to whoever captures it.
void TellErrors(const std::function<void(const std::string&)>& errorLine, const std::string& text) {
    if (!errorLine) {
        return;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        errorLine(text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

EmulatedProcessService::EmulatedProcessService(Timeline& timeline, EmulatedBox& box,
                                               std::string packageFolder)
    : timeline_(timeline), own_(box), bus_(own_), packageFolder_(std::move(packageFolder)) {}

EmulatedProcessService::EmulatedProcessService(Timeline& timeline, const EmulatedBus& bus,
                                               std::string packageFolder)
    : timeline_(timeline), bus_(bus), packageFolder_(std::move(packageFolder)) {}

EmulatedProcessService::~EmulatedProcessService() {
    for (const auto& child : children_) {
        timeline_.CancelAll(child.get());
    }
}

std::vector<ToolStart> EmulatedProcessService::Starts() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
}

void EmulatedProcessService::ForgetStarts() {
    const std::lock_guard<std::mutex> lock(mutex_);
    starts_.clear();
    starts_.shrink_to_fit();
}

ZELKUtil::Result<std::unique_ptr<ZELKUtil::ChildProcess>> EmulatedProcessService::Start(
    const StartRequest& request) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        starts_.push_back({timeline_.NowMs(), request.program, request.arguments,
                           request.workingDirectory, request.mode});
    }
    if (!ZELKUtil::Files::CanOpenForReading(
            ZELKUtil::Files::Join(packageFolder_, request.program))) {
        return ZELKUtil::ErrorFromErrno(request.program, ENOENT);
    }
    if (std::find(settings_.unstartable.begin(), settings_.unstartable.end(), request.program) !=
        settings_.unstartable.end()) {
        return ZELKUtil::ErrorFromErrno(request.program, EACCES);
    }
    ForgetEndedChildren();

    auto child = std::make_shared<Child>(timeline_, request.onExit);
    EmulatedBox* box = Target(request);
    auto run = std::make_shared<Run>(Run{box,
                                         ScriptFor(request, box),
                                         child,
                                         box != nullptr ? box->Presence() : 0,
                                         false,
                                         {},
                                         request.onErrorLine});
    const Script& script = run->script;
    std::int64_t at = timeline_.NowMs();
    for (std::size_t i = 0; i < script.steps.size(); ++i) {
        at += script.steps[i].afterMs;
        timeline_.ScheduleAt(child.get(), at, [this, run, i] { PlayStep(*run, i); });
    }
    ArmMoments(request.program, *run, child);
    const std::weak_ptr<Child> weak = child;
    // The tool exits just after its last step, or with it; its reader sees the end of the output
    // a moment later.
    const std::int64_t exitAt = !script.steps.empty() && script.steps.back().exits ? at : at + 1;
    timeline_.ScheduleAt(child.get(), exitAt, [weak, run] {
        if (auto c = weak.lock()) {
            if (!run->gone) {
                TellErrors(run->errorLine, run->script.endError);
            }
            c->Exit(run->script.exitCode);
        }
    });
    timeline_.ScheduleAt(child.get(), exitAt + 1, [weak] {
        if (auto c = weak.lock()) {
            c->EndOutput();
        }
    });
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        children_.push_back(child);
    }
    return std::unique_ptr<ZELKUtil::ChildProcess>(std::make_unique<ChildHandle>(child));
}

void EmulatedProcessService::AddMoment(ToolMoment moment) {
    const std::lock_guard<std::mutex> lock(mutex_);
    moment.id = ++momentsAdded_;
    moments_.push_back(std::move(moment));
}

bool EmulatedProcessService::CountMoment(std::uint64_t id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto moment = std::find_if(moments_.begin(), moments_.end(),
                                     [id](const ToolMoment& m) { return m.id == id; });
    if (moment == moments_.end()) {
        return false;
    }
    if (moment->runs == 1) {
        moments_.erase(moment);
    } else if (moment->runs > 1) {
        --moment->runs;
    }
    return true;
}

void EmulatedProcessService::ArmMoments(const std::string& program, Run& run,
                                        const std::shared_ptr<Child>& child) {
    std::vector<ToolMoment> armed;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::copy_if(moments_.begin(), moments_.end(), std::back_inserter(armed),
                     [&program](const ToolMoment& m) { return m.program == program; });
    }
    const std::weak_ptr<Child> weak = child;
    for (ToolMoment& moment : armed) {
        if (!moment.text.empty()) {
            run.moments.push_back(std::move(moment));
        } else if (CountMoment(moment.id)) {
            timeline_.ScheduleAt(child.get(), timeline_.NowMs() + moment.afterMs,
                                 [weak, action = std::move(moment.action)] {
                                     const auto running = weak.lock();
                                     if (running && !running->HasExited()) {
                                         action();
                                     }
                                 });
        }
    }
}

void EmulatedProcessService::PlayStep(Run& run, std::size_t i) {
    const Step& step = run.script.steps[i];
    const std::shared_ptr<Child> c = run.child.lock();
    if (!c || run.gone) {
        return;
    }
    // Presence first: when it is unchanged, so is the mode read after it.
    const std::uint64_t presence = run.box != nullptr ? run.box->Presence() : 0;
    const bool there =
        run.box != nullptr && run.box->Mode() == run.script.device && !run.box->Hung();
    const bool lost = (step.box == BoxUse::Opens && !there) ||
                      (step.box == BoxUse::Holds && (!there || presence != run.opened));
    if (lost) {
        EndWithoutBox(run, c);
        return;
    }
    if (step.box == BoxUse::Opens) {
        run.opened = presence;
    }
    if (step.effect) {
        step.effect();
    }
    if (!step.output.empty()) {
        c->Emit(step.output);
    }
    for (auto moment = run.moments.begin(); moment != run.moments.end();) {
        if (step.output.find(moment->text) == std::string::npos) {
            ++moment;
            continue;
        }
        const std::function<void()> action = std::move(moment->action);
        const std::uint64_t id = moment->id;
        moment = run.moments.erase(moment);
        if (CountMoment(id)) {
            action();
        }
    }
}

void EmulatedProcessService::EndWithoutBox(Run& run, const std::shared_ptr<Child>& child) {
    run.gone = true;
    if (run.script.goneEffect) {
        run.script.goneEffect();
    }
    if (!run.script.goneOutput.empty()) {
        child->Emit(run.script.goneOutput);
    }
    TellErrors(run.errorLine, run.script.goneError);
    child->Exit();
    const std::weak_ptr<Child> weak = child;
    timeline_.ScheduleAt(child.get(), timeline_.NowMs() + 1, [weak] {
        if (auto ending = weak.lock()) {
            ending->EndOutput();
        }
    });
}

void EmulatedProcessService::ForgetEndedChildren() {
    std::vector<std::shared_ptr<Child>> ended;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto first = std::stable_partition(
            children_.begin(), children_.end(),
            [](const std::shared_ptr<Child>& child) { return !child->Finished(); });
        ended.assign(first, children_.end());
        children_.erase(first, children_.end());
    }
    for (const auto& child : ended) {
        timeline_.CancelAll(child.get());
    }
}

EmulatedBox* EmulatedProcessService::Target(const StartRequest& request) const {
    const bool downloadTool =
        request.program == PackageFiles::kDfuUtil || request.program == PackageFiles::kDfuApp;
    const BoxMode wanted = downloadTool ? BoxMode::Bootloader : BoxMode::FpgaProgrammer;
    // dfu-util's -p names the port; without it every DFU device on the bus is a candidate.
    std::string port;
    const auto option = std::find(request.arguments.begin(), request.arguments.end(), "-p");
    if (request.program == PackageFiles::kDfuUtil && option != request.arguments.end() &&
        option + 1 != request.arguments.end()) {
        port = *(option + 1);
    }
    const std::vector<EmulatedBox*> boxes = bus_.On(port);
    std::vector<EmulatedBox*> candidates;
    std::copy_if(boxes.begin(), boxes.end(), std::back_inserter(candidates),
                 [wanted](EmulatedBox* box) { return box->Mode() == wanted; });
    if (candidates.size() > 1 && request.program == PackageFiles::kDfuUtil) {
        return nullptr;  // dfu-util will not choose between two devices
    }
    if (!candidates.empty()) {
        return candidates.front();
    }
    // None in the tool's mode: the tool meets whatever is there and finds no device of its kind.
    return boxes.empty() ? nullptr : boxes.front();
}

EmulatedProcessService::Script EmulatedProcessService::ScriptFor(const StartRequest& request,
                                                                 EmulatedBox* box) {
    const bool downloadTool =
        request.program == PackageFiles::kDfuUtil || request.program == PackageFiles::kDfuApp;
    if (downloadTool && box != nullptr &&
        Has(request.arguments, PackageFiles::kFpgaProgrammerImage)) {
        return ProgrammerFirmwareScript(*box);
    }
    const bool player = request.program == PackageFiles::kStaplPlayer;
    const bool identification = player && Has(request.arguments, "-aDEVICE_INFO");
    const std::vector<std::string>& own =
        identification ? settings_.ownIdentification : settings_.ownOutput;
    if (!own.empty() && (downloadTool || player)) {
        return OwnOutputScript(request, own);
    }
    if (request.program == PackageFiles::kDfuUtil) {
        const bool portNamed = Has(request.arguments, "-p");
        const auto bootloaders =
            std::count_if(bus_.Boxes().begin(), bus_.Boxes().end(),
                          [](const EmulatedBox* b) { return b->Mode() == BoxMode::Bootloader; });
        return DfuUtilScript(box, box == nullptr && !portNamed && bootloaders > 1);
    }
    if (box == nullptr) {
        Script none;
        none.steps.push_back({settings_.stepMs, "", nullptr});
        return none;
    }
    if (request.program == PackageFiles::kDfuApp) {
        return DfuAppScript(*box);
    }
    if (player) {
        return StaplScript(request, *box);
    }
    return InstallerScript(request);
}

EmulatedProcessService::Script EmulatedProcessService::ProgrammerFirmwareScript(
    EmulatedBox& box) const {
    // Started by the shell in the Tools folder, no output read. It acts only on the box it found
    // in its bootloader when it started.
    Script script;
    script.steps.push_back({settings_.stepMs * 10, "",
                            [&box, firmware = settings_.programmerFirmware] {
                                if (firmware == ProgrammerFirmware::Works) {
                                    box.BecomeFpgaProgrammer();
                                } else if (firmware == ProgrammerFirmware::FallsBack) {
                                    box.Restart(BoxMode::Normal, EmulatedBox::kDefaultRestartMs);
                                }
                            },
                            false, BoxUse::Holds});
    return script;
}

EmulatedProcessService::Script EmulatedProcessService::InstallerScript(
    const StartRequest& request) const {
    Script script;
    if (request.program.rfind(PackageFiles::kDriverFolderLibusbk, 0) == 0 ||
        request.program.rfind(PackageFiles::kDriverFolderNxp, 0) == 0) {
        // The installer puts the folder's driver on the bootloader, the package's libusbK driver
        // or the NXP one, for every bootloader of the machine; one that reports a failed
        // installation leaves the driver as it was.
        const bool libusbk = request.program.rfind(PackageFiles::kDriverFolderLibusbk, 0) == 0;
        const bool installs =
            (settings_.installerExitCode & 0x80000000U) == 0 && settings_.installerInstalls;
        script.steps.push_back({settings_.installerMs, "", [this, libusbk, installs] {
                                    for (EmulatedBox* box : bus_.Boxes()) {
                                        if (installs) {
                                            box->SetDriverState(libusbk ? 3 : 2);
                                        }
                                    }
                                }});
        script.exitCode = settings_.installerExitCode;
    } else {
        script.steps.push_back({settings_.stepMs, "", nullptr});
    }
    return script;
}

std::string EmulatedProcessService::NewVersion() const {
    if (!settings_.newVersion.empty()) {
        return settings_.newVersion;
    }
    return ZELKUtil::ReadFirstLine(
               ZELKUtil::Files::Join(packageFolder_, PackageFiles::kVersionFile))
        .value_or("");
}

EmulatedProcessService::Script EmulatedProcessService::DfuUtilScript(EmulatedBox* box,
                                                                     bool several) {
    const std::int64_t ms = settings_.stepMs;

    const bool current = settings_.dfuUtil == DfuUtilBehaviour::WorksCurrent ||
                         settings_.dfuUtil == DfuUtilBehaviour::NoDeviceCurrent;
    // dfu-util tells of a device lost mid-transfer on its error stream: its output just stops.
    Script script;
    script.goneError = "dfu-util: Error during download get_status\n";
    std::vector<Step>& steps = script.steps;
    steps.push_back({ms,
                     std::string("dfu-util ") + (current ? "0.11" : "0.7") +
                         "\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko "
                         "Inc.\nCopyright 2010-2012 Tormod Volden and Stefan Schmidt\nThis "
                         "program is Free Software and has ABSOLUTELY NO WARRANTY\n\n",
                     nullptr});
    const int pass = dfuUtilPasses_++;
    const bool inBootloader = box != nullptr && box->Mode() == BoxMode::Bootloader;
    // More than one DFU device, or (current dfu-util) none: it says so on its error stream only.
    if (settings_.dfuUtil == DfuUtilBehaviour::NoDeviceCurrent || (current && !inBootloader) ||
        box == nullptr) {
        script.endError = several ? "dfu-util: More than one DFU capable USB device found! Try "
                                    "`--list' and specify the serial number or disconnect all "
                                    "but one device\n"
                                  : "dfu-util: No DFU capable USB device available\n";
        return script;
    }
    steps.push_back({ms, "Opening DFU capable USB device...\n", nullptr});
    if (settings_.dfuUtil == DfuUtilBehaviour::OnlyOpening ||
        pass < settings_.dfuUtilOpeningPasses || !inBootloader) {
        script.endError = inBootloader ? "dfu-util: Cannot open DFU device 0471:df55\n"
                                       : "dfu-util: No DFU capable USB device found\n";
        return script;
    }
    // The device's set-up, a line after each USB request, as the tool prints it: a box that
    // leaves between two of them cuts the pass short before its bar.
    const char* const setUp[] = {
        "ID 0471:df55\n",
        "Run-time device DFU version 0100\n",
        "Claiming USB DFU Interface...\n",
        "Setting Alternate Setting #0 ...\n",
        "Determining device status: state = dfuIDLE, status = 0\ndfuIDLE, continuing\n",
        "DFU mode device DFU version 0100\n",
        "Device returned transfer size 2048\nCopying data from PC to DFU device\n",
    };
    for (const char* line : setUp) {
        steps.push_back(
            {ms, line, nullptr, false, line == setUp[0] ? BoxUse::Opens : BoxUse::Holds});
    }
    const auto complete = [box, version = NewVersion()] { box->CompleteArmDownload(version); };
    if (current) {
        AddCurrentDfuUtilTransfer(steps, complete);
    } else {
        AddOldDfuUtilTransfer(steps, complete);
    }
    return script;
}

// dfu-util 0.11 and later: a progress bar redrawn after a carriage return.
void EmulatedProcessService::AddCurrentDfuUtilTransfer(
    std::vector<Step>& steps, const std::function<void()>& complete) const {
    const std::int64_t ms = settings_.stepMs;
    const int length = settings_.dfuUtilBarLength;
    for (int fill = 0; fill <= length; ++fill) {
        const int percent = length == 0 ? 100 : 100 * fill / length;
        steps.push_back({ms,
                         "\rDownload\t[" + std::string(static_cast<std::size_t>(fill), '=') +
                             std::string(static_cast<std::size_t>(length - fill), ' ') + "] " +
                             std::to_string(percent) + "%  " + std::to_string(fill * 2048) +
                             " bytes",
                         nullptr, false, BoxUse::Holds});
    }
    steps.push_back({ms,
                     "\nDownload done.\nstate(7) = dfuMANIFEST, status(0) = No error "
                     "condition is present\nDone!\n",
                     complete, false, BoxUse::Holds});
}

// dfu-util 0.7: a bar of hashes that grows on one line.
void EmulatedProcessService::AddOldDfuUtilTransfer(std::vector<Step>& steps,
                                                   const std::function<void()>& complete) const {
    const std::int64_t ms = settings_.stepMs;
    steps.push_back({ms, "Starting download: [", nullptr, false, BoxUse::Holds});
    for (int i = 0; i < settings_.dfuUtilBarLength; ++i) {
        steps.push_back({ms, "#", nullptr, false, BoxUse::Holds});
    }
    if (settings_.dfuUtil == DfuUtilBehaviour::FinishedMissing) {
        steps.push_back({ms, "] error during download\n", nullptr, false, BoxUse::Holds});
        return;
    }
    steps.push_back({ms,
                     "] finished!\nstate(2) = dfuIDLE, status(0) = No error condition is "
                     "present\nDone!\n",
                     complete, false, BoxUse::Holds});
}

EmulatedProcessService::Script EmulatedProcessService::DfuAppScript(EmulatedBox& box) {
    const std::int64_t ms = settings_.stepMs;
    // DFUAPP writes its log into the package's Tools folder, where the utility reads it.
    const std::string log = ZELKUtil::Files::Join(packageFolder_, PackageFiles::kDfuAppLog);
    const auto append = [log](std::string text) {
        return [log, text = std::move(text)] {
            std::ofstream out(log, std::ios::app | std::ios::binary);
            out << text;
        };
    };
    Script script;
    script.goneEffect = append("An error has occurred.\r\n");
    std::vector<Step>& steps = script.steps;
    steps.push_back(
        {ms, "", append("DFUAPP started\r\nDevice found: 0471:DF55\r\n"), false, BoxUse::Opens});
    const int blocks = settings_.dfuAppBlocks;
    const bool fails = settings_.dfuApp == DfuAppBehaviour::Fails;
    for (int i = 0; i < (fails ? blocks / 2 : blocks); ++i) {
        steps.push_back({ms, "",
                         append("Device has received a block and is waiting for the host to "
                                "solicit the status via DFU_GETSTATUS\r\n"),
                         false, BoxUse::Holds});
    }
    if (fails) {
        steps.push_back({ms, "", append("An error has occurred.\r\n")});
        return script;
    }
    steps.push_back({ms, "",
                     [&box, write = append("Device Reset after Download successful\r\n"),
                      version = NewVersion()] {
                         write();
                         box.CompleteArmDownload(version);
                     },
                     false, BoxUse::Holds});
    return script;
}

// The player's identification run (DEVICE_INFO): the FPGA's IDCODE and checksum, from a
// programmer that answers.
void EmulatedProcessService::IdentificationSteps(std::vector<Step>& steps, bool programmer,
                                                 EmulatedBox& box) {
    const std::int64_t ms = settings_.stepMs;
    const int run = deviceInfoRuns_++;
    const StaplBehaviour b = settings_.stapl;
    if (programmer && b != StaplBehaviour::NoIdcode && run >= settings_.staplMissedIdcodes) {
        const std::string id =
            b == StaplBehaviour::GarbageIdcode ? "XYZ" : Hex(box.FpgaIdcode(), 8);
        const std::string sum =
            b == StaplBehaviour::GarbageChecksum ? "n/a" : Hex(box.FpgaChecksum(), 4);
        const std::string lines[] = {"Export: key = \"IDCODE\", value = HEX " + id + "\n",
                                     "Export: key = \"USERCODE\", CHECKSUM: " + sum + "\n",
                                     "Exit code = 0... Success\n\n"};
        if (b == StaplBehaviour::BlankLineFirst) {
            steps.front().output += "\n" + lines[0] + lines[1] + lines[2];
            steps.front().exits = true;
            steps.front().box = BoxUse::Opens;
        } else {
            BoxUse use = BoxUse::Opens;
            for (const std::string& line : lines) {
                steps.push_back({ms, line, nullptr, false, std::exchange(use, BoxUse::Holds)});
            }
        }
    } else {
        steps.push_back({ms,
                         "Error: device not found in the JTAG chain\nExit code = 9... "
                         "Unrecognized device\n\n",
                         nullptr});
    }
}

EmulatedProcessService::Script EmulatedProcessService::StaplScript(const StartRequest& request,
                                                                   EmulatedBox& box) {
    const std::int64_t ms = settings_.stepMs;
    Script script;
    script.device = BoxMode::FpgaProgrammer;
    // The player loses its JTAG chain with the programmer.
    script.goneOutput = "Error: the JTAG chain is gone\nExit code = 1... Checking chain failure\n";
    std::vector<Step>& steps = script.steps;
    steps.push_back({ms, "STAPL Player Version 2.2\nCopyright (C) 1997-2012\n", nullptr});
    const bool programmer = box.Mode() == BoxMode::FpgaProgrammer;
    if (Has(request.arguments, "-aDEVICE_INFO")) {
        IdentificationSteps(steps, programmer, box);
        return script;
    }
    const bool erase = Has(request.arguments, "-aERASE");
    const std::string action = erase ? "ERASE" : "PROGRAM";
    const BoxUse first = programmer ? BoxUse::Opens : BoxUse::None;
    const BoxUse later = programmer ? BoxUse::Holds : BoxUse::None;
    for (int i = 1; i <= settings_.staplPercentLines; ++i) {
        steps.push_back({ms,
                         "Action " + action + ": PERCENT_DONE = " +
                             std::to_string(100 * i / settings_.staplPercentLines) + "\n",
                         nullptr, false, i == 1 ? first : later});
    }
    if (!programmer || settings_.stapl == StaplBehaviour::Fails) {
        steps.push_back({ms, "Exit code = 10... Failure\n", nullptr});
        return script;
    }
    if (settings_.stapl == StaplBehaviour::FailsSilently) {
        return script;
    }
    if (erase) {
        const bool clears = settings_.stapl != StaplBehaviour::EraseLeavesDesign;
        steps.push_back({ms, "Completed erase\nExit code = 0... Success\n",
                         [&box, clears] {
                             if (clears) {
                                 box.SetFpgaChecksum(0);
                             }
                         },
                         false, BoxUse::Holds});
    } else {
        steps.push_back({ms,
                         "Verifying FPGA Array\nVerifying FPGA Array -- pass\nExit code = 0... "
                         "Success\n",
                         [&box, sum = settings_.programmedChecksum] { box.SetFpgaChecksum(sum); },
                         false, BoxUse::Holds});
    }
    return script;
}

EmulatedProcessService::Script EmulatedProcessService::OwnOutputScript(
    const StartRequest& request, const std::vector<std::string>& pieces) {
    Script script;
    const bool dfuApp = request.program == PackageFiles::kDfuApp;
    const std::string log = ZELKUtil::Files::Join(packageFolder_, PackageFiles::kDfuAppLog);
    for (const std::string& piece : pieces) {
        if (dfuApp) {
            script.steps.push_back({settings_.stepMs, "", [log, piece] {
                                        std::ofstream out(log, std::ios::app | std::ios::binary);
                                        out << piece;
                                    }});
        } else {
            script.steps.push_back({settings_.stepMs, piece, nullptr});
        }
    }
    return script;
}

}  // namespace ZELKSim
