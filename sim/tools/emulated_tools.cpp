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
#include "tools/tool_script.h"

namespace ZELKSim {
namespace {

using ZELKUtil::StartRequest;
namespace PackageFiles = ZELKUtil::PackageFiles;

}  // namespace

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
    bool several = false;
    EmulatedBox* box = Target(request, &several);
    auto run = std::make_shared<Run>(Run{box,
                                         ScriptFor(request, box, several),
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

EmulatedBox* EmulatedProcessService::Target(const StartRequest& request, bool* several) const {
    const bool downloadTool =
        request.program == PackageFiles::kDfuUtil || request.program == PackageFiles::kDfuApp;
    const BoxMode wanted = downloadTool ? BoxMode::Bootloader : BoxMode::FpgaProgrammer;
    // dfu-util's -p names the port; without it every DFU device on the bus is a candidate.
    std::optional<std::string> port;
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
        *several = true;
        return nullptr;  // dfu-util will not choose between two devices
    }
    if (!candidates.empty()) {
        return candidates.front();
    }
    // None in the tool's mode: the tool meets whatever is there and finds no device of its kind.
    return boxes.empty() ? nullptr : boxes.front();
}

EmulatedProcessService::Script EmulatedProcessService::ScriptFor(const StartRequest& request,
                                                                 EmulatedBox* box, bool several) {
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
        return DfuUtilScript(box, several);
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
