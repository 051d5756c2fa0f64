#include "emulated_tools.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>

#include "package/package_files.h"
#include "package/version_file.h"
#include "platform/files.h"
#include "platform/line_buffer.h"

namespace ZELKSim {
namespace {

using ZELKUtil::StartRequest;
namespace PackageFiles = ZELKUtil::PackageFiles;

constexpr std::int64_t kForever = std::numeric_limits<std::int64_t>::max() / 4;

bool Has(const std::vector<std::string>& arguments, const std::string& wanted) {
    return std::find(arguments.begin(), arguments.end(), wanted) != arguments.end();
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

// One step of a tool's run: after `afterMs` from the previous step, print `output` and do `effect`.
struct EmulatedProcessService::Step {
    std::int64_t afterMs = 0;
    std::string output;
    std::function<void()> effect;
    // The tool exits in the same instant (its buffered output is flushed as it ends).
    bool exits = false;
};

// A running emulated tool. Its steps run on the timeline (on the clock's worker thread in real
// time), its reader on the caller's thread, so everything it holds is guarded.
struct EmulatedProcessService::Child : ZELKUtil::ChildProcess {
    Child(Timeline& timeline, std::function<void()> onExit)
        : timeline_(timeline), onExit_(std::move(onExit)) {}

    void Emit(const std::string& text) {
        std::vector<std::string> lines;
        std::function<void(const std::string&)> onLine;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            buffer_.Append(text);
            if (!delivering_) {
                return;
            }
            while (auto line = buffer_.TakeLine(false)) {
                lines.push_back(std::move(*line));
            }
            onLine = onLine_;
        }
        for (const std::string& line : lines) {
            onLine(line);
        }
    }
    void EndOutput() {
        std::vector<std::string> lines;
        std::function<void(const std::string&)> onLine;
        std::function<void()> onEnd;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            if (delivering_) {
                while (auto line = buffer_.TakeLine(true)) {
                    lines.push_back(std::move(*line));
                }
                onLine = onLine_;
                onEnd = onEnd_;
            }
        }
        for (const std::string& line : lines) {
            onLine(line);
        }
        if (onEnd) {
            onEnd();
        }
        timeline_.Notify();
    }
    void Exit() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            exited_ = true;
        }
        if (onExit_) {
            onExit_();
        }
        timeline_.Notify();
    }

    std::optional<std::string> ReadLine() override {
        (void)timeline_.WaitUntil(kForever, [this] {
            const std::lock_guard<std::mutex> lock(mutex_);
            return ended_ || buffer_.HasLine();
        });
        const std::lock_guard<std::mutex> lock(mutex_);
        return buffer_.TakeLine(ended_);
    }
    int ReadChar() override {
        (void)timeline_.WaitUntil(kForever, [this] {
            const std::lock_guard<std::mutex> lock(mutex_);
            return ended_ || buffer_.HasText();
        });
        const std::lock_guard<std::mutex> lock(mutex_);
        return buffer_.TakeChar();
    }
    void DeliverLines(std::function<void(const std::string&)> onLine,
                      std::function<void()> onEnd) override {
        std::vector<std::string> lines;
        bool ended = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            delivering_ = true;
            onLine_ = std::move(onLine);
            onEnd_ = std::move(onEnd);
            while (auto line = buffer_.TakeLine(ended_)) {
                lines.push_back(std::move(*line));
            }
            ended = ended_;
        }
        for (const std::string& line : lines) {
            onLine_(line);
        }
        if (ended) {
            onEnd_();
        }
    }
    bool OutputReady() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ended_ || buffer_.HasText();
    }
    bool HasExited() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return exited_;
    }
    void WaitForExit() override {
        (void)timeline_.WaitUntil(kForever, [this] { return HasExited(); });
    }

  private:
    Timeline& timeline_;
    std::function<void()> onExit_;
    std::mutex mutex_;
    ZELKUtil::LineBuffer buffer_;
    bool ended_ = false;
    bool exited_ = false;
    bool delivering_ = false;
    std::function<void(const std::string&)> onLine_;
    std::function<void()> onEnd_;
};

namespace {

// What the service hands out: the child lives on in the service (children outlive whoever
// started them), the caller holds a view of it.
class ChildHandle final : public ZELKUtil::ChildProcess {
  public:
    explicit ChildHandle(std::shared_ptr<EmulatedProcessService::Child> child)
        : child_(std::move(child)) {}
    std::optional<std::string> ReadLine() override { return child_->ReadLine(); }
    int ReadChar() override { return child_->ReadChar(); }
    void DeliverLines(std::function<void(const std::string&)> onLine,
                      std::function<void()> onEnd) override {
        child_->DeliverLines(std::move(onLine), std::move(onEnd));
    }
    bool OutputReady() override { return child_->OutputReady(); }
    bool HasExited() override { return child_->HasExited(); }
    void WaitForExit() override { child_->WaitForExit(); }

  private:
    std::shared_ptr<EmulatedProcessService::Child> child_;
};

}  // namespace

EmulatedProcessService::EmulatedProcessService(Timeline& timeline, EmulatedBox& box,
                                               std::string packageFolder)
    : timeline_(timeline), box_(box), packageFolder_(std::move(packageFolder)) {}

EmulatedProcessService::~EmulatedProcessService() {
    for (const auto& child : children_) {
        timeline_.CancelAll(child.get());
    }
}

std::vector<ToolStart> EmulatedProcessService::Starts() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
}

std::unique_ptr<ZELKUtil::ChildProcess> EmulatedProcessService::Start(const StartRequest& request,
                                                                      std::string* error) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        starts_.push_back({timeline_.NowMs(), request.program, request.arguments,
                           request.workingDirectory, request.mode});
    }
    if (!ZELKUtil::Files::CanOpenForReading(
            ZELKUtil::Files::Join(packageFolder_, request.program))) {
        *error = request.program + ": No such file or directory";
        return nullptr;
    }
    if (std::find(settings_.unstartable.begin(), settings_.unstartable.end(), request.program) !=
        settings_.unstartable.end()) {
        *error = request.program + ": Permission denied";
        return nullptr;
    }

    auto child = std::make_shared<Child>(timeline_, request.onExit);
    std::vector<Step> steps = Script(request);
    std::int64_t at = timeline_.NowMs();
    for (Step& step : steps) {
        at += step.afterMs;
        std::weak_ptr<Child> weak = child;
        timeline_.ScheduleAt(
            child.get(), at,
            [weak, output = std::move(step.output), effect = std::move(step.effect)] {
                if (effect) {
                    effect();
                }
                if (auto c = weak.lock(); c && !output.empty()) {
                    c->Emit(output);
                }
            });
    }
    // The tool exits just after its last step, or with it; its reader sees the end of the output
    // a moment later.
    const std::int64_t exitAt = !steps.empty() && steps.back().exits ? at : at + 1;
    timeline_.ScheduleAt(child.get(), exitAt, [weak = std::weak_ptr<Child>(child)] {
        if (auto c = weak.lock()) {
            c->Exit();
        }
    });
    timeline_.ScheduleAt(child.get(), exitAt + 1, [weak = std::weak_ptr<Child>(child)] {
        if (auto c = weak.lock()) {
            c->EndOutput();
        }
    });
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        children_.push_back(child);
    }
    return std::make_unique<ChildHandle>(child);
}

std::vector<EmulatedProcessService::Step> EmulatedProcessService::Script(
    const StartRequest& request) {
    const bool downloadTool =
        request.program == PackageFiles::kDfuUtil || request.program == PackageFiles::kDfuApp;
    if (downloadTool && Has(request.arguments, PackageFiles::kFpgaProgrammerImage)) {
        // The programmer firmware: started by the shell in the Tools folder, no output read.
        return {{settings_.stepMs * 10, "", [this, works = settings_.programmerFirmwareWorks] {
                     if (works && box_.Mode() == BoxMode::Bootloader) {
                         box_.BecomeFpgaProgrammer();
                     }
                 }}};
    }
    if (request.program == PackageFiles::kDfuUtil) {
        return DfuUtilScript();
    }
    if (request.program == PackageFiles::kDfuApp) {
        return DfuAppScript();
    }
    if (request.program == PackageFiles::kStaplPlayer) {
        return StaplScript(request);
    }
    if (request.program.rfind(PackageFiles::kDriverFolderLibusbk, 0) == 0 ||
        request.program.rfind(PackageFiles::kDriverFolderNxp, 0) == 0) {
        return InstallerScript(request);
    }
    return {{settings_.stepMs, "", nullptr}};
}

std::string EmulatedProcessService::NewVersion() const {
    if (!settings_.newVersion.empty()) {
        return settings_.newVersion;
    }
    return ZELKUtil::ReadFirstLine(
               ZELKUtil::Files::Join(packageFolder_, PackageFiles::kVersionFile))
        .value_or("");
}

std::vector<EmulatedProcessService::Step> EmulatedProcessService::DfuUtilScript() {
    const std::int64_t ms = settings_.stepMs;

    const bool current = settings_.dfuUtil == DfuUtilBehaviour::WorksCurrent ||
                         settings_.dfuUtil == DfuUtilBehaviour::NoDeviceCurrent;
    std::vector<Step> steps;
    steps.push_back({ms,
                     std::string("dfu-util ") + (current ? "0.11" : "0.7") +
                         "\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko "
                         "Inc.\nCopyright 2010-2012 Tormod Volden and Stefan Schmidt\nThis "
                         "program is Free Software and has ABSOLUTELY NO WARRANTY\n\n",
                     nullptr});
    const int pass = dfuUtilPasses_++;
    const bool inBootloader = box_.Mode() == BoxMode::Bootloader;
    if (settings_.dfuUtil == DfuUtilBehaviour::NoDeviceCurrent || (current && !inBootloader)) {
        return steps;
    }
    steps.push_back({ms, "Opening DFU capable USB device...\n", nullptr});
    if (settings_.dfuUtil == DfuUtilBehaviour::OnlyOpening ||
        pass < settings_.dfuUtilOpeningPasses || !inBootloader) {
        return steps;
    }
    steps.push_back({ms,
                     "ID 0471:df55\nRun-time device DFU version 0100\nClaiming USB DFU "
                     "Interface...\nSetting Alternate Setting #0 ...\nDetermining device status: "
                     "state = dfuIDLE, status = 0\ndfuIDLE, continuing\nDFU mode device DFU "
                     "version 0100\nDevice returned transfer size 2048\nCopying data from PC to "
                     "DFU device\n",
                     nullptr});
    const int length = settings_.dfuUtilBarLength;
    if (current) {
        for (int fill = 0; fill <= length; ++fill) {
            const int percent = length == 0 ? 100 : 100 * fill / length;
            steps.push_back({ms,
                             "\rDownload\t[" + std::string(static_cast<std::size_t>(fill), '=') +
                                 std::string(static_cast<std::size_t>(length - fill), ' ') + "] " +
                                 std::to_string(percent) + "%  " + std::to_string(fill * 2048) +
                                 " bytes",
                             nullptr});
        }
        steps.push_back({ms,
                         "\nDownload done.\nstate(7) = dfuMANIFEST, status(0) = No error "
                         "condition is present\nDone!\n",
                         [this, version = NewVersion()] { box_.CompleteArmDownload(version); }});
        return steps;
    }
    steps.push_back({ms, "Starting download: [", nullptr});
    for (int i = 0; i < length; ++i) {
        steps.push_back({ms, "#", nullptr});
    }
    if (settings_.dfuUtil == DfuUtilBehaviour::FinishedMissing) {
        steps.push_back({ms, "] error during download\n", nullptr});
        return steps;
    }
    steps.push_back({ms,
                     "] finished!\nstate(2) = dfuIDLE, status(0) = No error condition is "
                     "present\nDone!\n",
                     [this, version = NewVersion()] { box_.CompleteArmDownload(version); }});
    return steps;
}

std::vector<EmulatedProcessService::Step> EmulatedProcessService::DfuAppScript() {
    const std::int64_t ms = settings_.stepMs;
    // DFUAPP writes its log into the package's Tools folder, where the utility reads it.
    const std::string log = ZELKUtil::Files::Join(packageFolder_, PackageFiles::kDfuAppLog);
    const auto append = [log](std::string text) {
        return [log, text = std::move(text)] {
            std::ofstream out(log, std::ios::app | std::ios::binary);
            out << text;
        };
    };
    std::vector<Step> steps;
    steps.push_back({ms, "", append("DFUAPP started\r\nDevice found: 0471:DF55\r\n")});
    if (box_.Mode() != BoxMode::Bootloader) {
        steps.push_back({ms, "", append("An error has occurred.\r\n")});
        return steps;
    }
    const int blocks = settings_.dfuAppBlocks;
    const bool fails = settings_.dfuApp == DfuAppBehaviour::Fails;
    for (int i = 0; i < (fails ? blocks / 2 : blocks); ++i) {
        steps.push_back({ms, "",
                         append("Device has received a block and is waiting for the host to "
                                "solicit the status via DFU_GETSTATUS\r\n")});
    }
    if (fails) {
        steps.push_back({ms, "", append("An error has occurred.\r\n")});
        return steps;
    }
    steps.push_back({ms, "",
                     [this, write = append("Device Reset after Download successful\r\n"),
                      version = NewVersion()] {
                         write();
                         box_.CompleteArmDownload(version);
                     }});
    return steps;
}

std::vector<EmulatedProcessService::Step> EmulatedProcessService::StaplScript(
    const StartRequest& request) {
    const std::int64_t ms = settings_.stepMs;
    std::vector<Step> steps;
    steps.push_back({ms, "STAPL Player Version 2.2\nCopyright (C) 1997-2012\n", nullptr});
    const bool programmer = box_.Mode() == BoxMode::FpgaProgrammer;
    if (Has(request.arguments, "-aDEVICE_INFO")) {
        const int run = deviceInfoRuns_++;
        const StaplBehaviour b = settings_.stapl;
        if (programmer && b != StaplBehaviour::NoIdcode && run >= settings_.staplMissedIdcodes) {
            const std::string id =
                b == StaplBehaviour::GarbageIdcode ? "XYZ" : Hex(box_.FpgaIdcode(), 8);
            const std::string sum =
                b == StaplBehaviour::GarbageChecksum ? "n/a" : Hex(box_.FpgaChecksum(), 4);
            const std::string lines[] = {"Export: key = \"IDCODE\", value = HEX " + id + "\n",
                                         "Export: key = \"USERCODE\", CHECKSUM: " + sum + "\n",
                                         "Exit code = 0... Success\n\n"};
            if (b == StaplBehaviour::BlankLineFirst) {
                steps.front().output += "\n" + lines[0] + lines[1] + lines[2];
                steps.front().exits = true;
            } else {
                for (const std::string& line : lines) {
                    steps.push_back({ms, line, nullptr});
                }
            }
        } else {
            steps.push_back({ms,
                             "Error: device not found in the JTAG chain\nExit code = 9... "
                             "Unrecognized device\n\n",
                             nullptr});
        }
        return steps;
    }
    const bool erase = Has(request.arguments, "-aERASE");
    const std::string action = erase ? "ERASE" : "PROGRAM";
    for (int i = 1; i <= settings_.staplPercentLines; ++i) {
        steps.push_back({ms,
                         "Action " + action + ": PERCENT_DONE = " +
                             std::to_string(100 * i / settings_.staplPercentLines) + "\n",
                         nullptr});
    }
    if (!programmer || settings_.stapl == StaplBehaviour::Fails) {
        steps.push_back({ms, "Exit code = 10... Failure\n", nullptr});
        return steps;
    }
    if (settings_.stapl == StaplBehaviour::FailsSilently) {
        return steps;
    }
    if (erase) {
        steps.push_back({ms, "Completed erase\nExit code = 0... Success\n",
                         [this] { box_.SetFpgaChecksum(0); }});
    } else {
        steps.push_back(
            {ms,
             "Verifying FPGA Array\nVerifying FPGA Array -- pass\nExit code = 0... "
             "Success\n",
             [this, sum = settings_.programmedChecksum] { box_.SetFpgaChecksum(sum); }});
    }
    return steps;
}

std::vector<EmulatedProcessService::Step> EmulatedProcessService::InstallerScript(
    const StartRequest& request) {
    // The installer puts the folder's driver on the bootloader: the package's libusbK driver or
    // the NXP one.
    const bool libusbk = request.program.rfind(PackageFiles::kDriverFolderLibusbk, 0) == 0;
    return {{settings_.installerMs, "", [this, libusbk] { box_.SetDriverState(libusbk ? 3 : 2); }}};
}

}  // namespace ZELKSim
