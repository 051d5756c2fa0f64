#include "cli/box_tools.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "package/package_files.h"

namespace ZELKUtil::Cli {
namespace {

// Starts nothing: keeps each request, so that a test ends a child when it likes, and fails the
// programs it is told to.
class HeldTools final : public ProcessService {
  public:
    struct Child final : ChildProcess {
        std::optional<std::string> ReadLine() override { return std::nullopt; }
        int ReadChar() override { return -1; }
        bool LineReady() override { return true; }
        bool OutputReady() override { return true; }
        void DeliverLines(std::function<bool(const std::string&)> /*onLine*/,
                          std::function<void()> onEnd) override {
            onEnd();
        }
        bool HasExited() override { return false; }
        void WaitForExit() override {}
        std::optional<std::uint32_t> ExitCode() override { return std::nullopt; }
    };

    Result<std::unique_ptr<ChildProcess>> Start(const StartRequest& request) override {
        const std::lock_guard<std::mutex> lock(lock_);
        if (request.program == failing) {
            return Error{ErrorKind::NotFound, request.program, "missing"};
        }
        started.push_back(request);
        return std::unique_ptr<ChildProcess>(std::make_unique<Child>());
    }
    std::size_t Count() {
        const std::lock_guard<std::mutex> lock(lock_);
        return started.size();
    }
    void End(std::size_t i) {
        StartRequest request;
        {
            const std::lock_guard<std::mutex> lock(lock_);
            request = started.at(i);
        }
        request.onExit();
    }

    std::string failing;
    std::vector<StartRequest> started;

  private:
    std::mutex lock_;
};

const std::string kInstaller =
    std::string(PackageFiles::kDriverFolderLibusbk) + PackageFiles::kDriverInstaller64;

// Two boxes' driver installers never run at once: the second starts when the first has ended,
// and its box is told why it waits; other tools are never held, and an installer that could not
// start does not keep the gate.
TEST(BoxTools, OneDriverInstallerAtATime) {
    HeldTools held;
    auto gate = std::make_shared<ToolGate>();
    std::atomic<int> waits{0};
    BoxTools first(held, std::make_shared<ToolErrors>(), gate, [] {});
    BoxTools second(held, std::make_shared<ToolErrors>(), gate, [&waits] { ++waits; });
    ASSERT_TRUE(first.Start({kInstaller, {}, "", StartMode::Shell, {}}));
    auto waiting = std::async(std::launch::async, [&second] {
        return static_cast<bool>(second.Start({kInstaller, {}, "", StartMode::Shell, {}}));
    });
    // Other tools go on meanwhile.
    ASSERT_TRUE(first.Start({"Tools/dfu-util", {}, "", StartMode::DirectRedirected, {}}));
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(held.Count(), 2U);
    held.End(0);
    EXPECT_TRUE(waiting.get());
    EXPECT_EQ(held.Count(), 3U);
    EXPECT_EQ(waits.load(), 1);
    held.End(2);

    held.failing = kInstaller;
    EXPECT_FALSE(first.Start({kInstaller, {}, "", StartMode::Shell, {}}));
    EXPECT_TRUE(gate->Enter(0));
}

// Each tool's error lines are kept for the box with the tool's file name; blank ones are not.
TEST(BoxTools, ErrorLinesAreKeptWithTheirTool) {
    HeldTools held;
    auto errors = std::make_shared<ToolErrors>();
    BoxTools tools(held, errors, nullptr, {});
    ASSERT_TRUE(tools.Start({"Tools\\dfu-util.EXE", {}, "", StartMode::DirectRedirected, {}}));
    ASSERT_TRUE(held.started.at(0).onErrorLine);
    held.started[0].onErrorLine("dfu-util: can't detach");
    held.started[0].onErrorLine("");
    const auto lines = errors->Take();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].tool, "dfu-util");
    EXPECT_EQ(lines[0].text, "dfu-util: can't detach");
    EXPECT_TRUE(errors->Take().empty());
}

}  // namespace
}  // namespace ZELKUtil::Cli
