#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process_service.h"

namespace ZELKUtil::Cli {

// One tool at a time for all the boxes of a run: the package's driver installer works on files
// of the system's that two of its runs would race on.
class ToolGate {
  public:
    // Takes the gate, waiting up to waitMs for another holder to leave it; false: it did not.
    bool Enter(std::int64_t waitMs);
    void Leave();

  private:
    std::mutex lock_;
    std::condition_variable left_;
    bool held_ = false;
};

// The lines the tools of one box's run wrote to their error streams, as they come (on the tools'
// reader threads), until the run takes them.
class ToolErrors {
  public:
    struct Line {
        std::string tool;  // the program's file name, without ".exe"
        std::string text;
    };
    void Add(Line line);
    std::vector<Line> Take();

  private:
    std::mutex lock_;
    std::vector<Line> lines_;
};

// The process service of one box's run: every tool's error stream is captured for the box (never
// left to reach the terminal), and the driver installer waits for another box's to end.
class BoxTools final : public ProcessService {
  public:
    // onWait: told before the start waits for another box's installer.
    BoxTools(ProcessService& tools, std::shared_ptr<ToolErrors> errors,
             std::shared_ptr<ToolGate> installerGate, std::function<void()> onWait);

    Result<std::unique_ptr<ChildProcess>> Start(const StartRequest& request) override;
    // Asked before a tool that needs the bench's one FPGA programmer starts (see
    // NeedsTheProgrammer); false: the run gave up waiting for it, and the tool is not started.
    void OnProgrammerTool(std::function<bool()> takeProgrammer) {
        takeProgrammer_ = std::move(takeProgrammer);
    }

  private:
    ProcessService& tools_;
    std::shared_ptr<ToolErrors> errors_;
    std::shared_ptr<ToolGate> installerGate_;
    std::function<void()> onWait_;
    std::function<bool()> takeProgrammer_;
};

// Whether the package-relative program is the package's driver installer (either build of it).
bool IsDriverInstaller(const std::string& program);
// Whether the start makes the box the FPGA programmer (the programmer firmware's download) or
// plays its FPGA (the STAPL player, which takes whichever programmer it finds).
bool NeedsTheProgrammer(const StartRequest& request);

}  // namespace ZELKUtil::Cli
