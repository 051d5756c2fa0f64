#include "cli/box_tools.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <utility>

#include "controller/periods.h"
#include "package/package_files.h"

namespace ZELKUtil::Cli {
namespace {

// The program's file name, without the folders the package keeps it in.
std::string FileName(const std::string& program) {
    const std::size_t slash = program.find_last_of("/\\");
    return slash == std::string::npos ? program : program.substr(slash + 1);
}

// The tool's name as a person calls it: the file name without Windows's ".exe".
std::string ToolName(const std::string& program) {
    std::string name = FileName(program);
    const std::string exe = ".exe";
    if (name.size() > exe.size()) {
        std::string end = name.substr(name.size() - exe.size());
        std::transform(end.begin(), end.end(), end.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (end == exe) {
            name.resize(name.size() - exe.size());
        }
    }
    return name;
}

}  // namespace

bool ToolGate::Enter(std::int64_t waitMs) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!left_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !held_; })) {
        return false;
    }
    held_ = true;
    return true;
}

void ToolGate::Leave() {
    {
        const std::lock_guard<std::mutex> lock(lock_);
        held_ = false;
    }
    left_.notify_one();
}

void ToolErrors::Add(Line line) {
    const std::lock_guard<std::mutex> lock(lock_);
    lines_.push_back(std::move(line));
}

std::vector<ToolErrors::Line> ToolErrors::Take() {
    const std::lock_guard<std::mutex> lock(lock_);
    return std::exchange(lines_, {});
}

bool IsDriverInstaller(const std::string& program) {
    const std::string name = FileName(program);
    return name == PackageFiles::kDriverInstaller || name == PackageFiles::kDriverInstaller64;
}

bool NeedsTheProgrammer(const StartRequest& request) {
    if (request.program == PackageFiles::kStaplPlayer) {
        return true;
    }
    const bool download =
        request.program == PackageFiles::kDfuUtil || request.program == PackageFiles::kDfuApp;
    return download && std::find(request.arguments.begin(), request.arguments.end(),
                                 PackageFiles::kFpgaProgrammerImage) != request.arguments.end();
}

BoxTools::BoxTools(ProcessService& tools, std::shared_ptr<ToolErrors> errors,
                   std::shared_ptr<ToolGate> installerGate, std::function<void()> onWait)
    : tools_(tools),
      errors_(std::move(errors)),
      installerGate_(std::move(installerGate)),
      onWait_(std::move(onWait)) {}

Result<std::unique_ptr<ChildProcess>> BoxTools::Start(const StartRequest& request) {
    StartRequest own = request;
    own.onErrorLine = [errors = errors_,
                       tool = ToolName(request.program)](const std::string& line) {
        if (!line.empty()) {
            errors->Add({tool, line});
        }
    };
    if (takeProgrammer_ && NeedsTheProgrammer(request) && !takeProgrammer_()) {
        return Error{ErrorKind::InUse, "Cannot run " + request.program,
                     "another box is the FPGA programmer"};
    }
    if (!installerGate_ || !IsDriverInstaller(request.program)) {
        return tools_.Start(own);
    }
    if (!installerGate_->Enter(0)) {
        if (onWait_) {
            onWait_();
        }
        if (!installerGate_->Enter(Periods::kInstallerTurnMs)) {
            return Error{ErrorKind::InUse, "Cannot run " + request.program,
                         "another box's driver installer still runs after " +
                             std::to_string(Periods::kInstallerTurnMs / 60000) + " min"};
        }
    }
    // The gate is left when the installer ends, or at once when it could not start.
    own.onExit = [gate = installerGate_, onExit = request.onExit] {
        gate->Leave();
        if (onExit) {
            onExit();
        }
    };
    Result<std::unique_ptr<ChildProcess>> started = tools_.Start(own);
    if (!started) {
        installerGate_->Leave();
    }
    return started;
}

}  // namespace ZELKUtil::Cli
