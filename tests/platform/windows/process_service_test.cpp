// The Windows process service against real child programs under Wine: a stand-in tool
// (child_tool.exe) copied into a package folder as Tools\tool.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/windows_process_service.h"
#include "support/latch.h"
#include "support/temp_package.h"

namespace ZELKUtil {
namespace {

namespace fs = std::filesystem;
using Testing::Latch;
using Testing::TempPackage;

class WindowsProcessServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(fs::path(pkg_.Root()) / "Tools");
        fs::copy_file(ZELK_CHILD_TOOL, fs::path(pkg_.Root()) / "Tools" / "tool.exe");
    }
    std::unique_ptr<ChildProcess> Run(std::vector<std::string> arguments,
                                      StartMode mode = StartMode::DirectRedirected,
                                      const std::string& workingDirectory = "",
                                      std::function<void()> onExit = {}) {
        auto started = service_.Start(
            {"Tools\\tool.exe", std::move(arguments), workingDirectory, mode, std::move(onExit)});
        if (!started) {
            error_ = started.error().Text();
            return nullptr;
        }
        return std::move(started).value();
    }
    static std::vector<std::string> AllLines(ChildProcess& child) {
        std::vector<std::string> lines;
        while (auto line = child.ReadLine()) {
            lines.push_back(*line);
        }
        return lines;
    }

    TempPackage pkg_;
    WindowsProcessService service_{pkg_.Root()};
    std::string error_;
};

TEST_F(WindowsProcessServiceTest, EveryArgumentArrivesWholeWhateverItHolds) {
    const std::vector<std::string> words = {
        "-D",         "images/q750.bin", "with blank.bin", "",     "quote\"inside",
        "trailing\\", "back\\\\\"slash", "tab\there",      "Grüße"};
    std::vector<std::string> arguments = {"args"};
    arguments.insert(arguments.end(), words.begin(), words.end());
    auto child = Run(arguments);
    ASSERT_TRUE(child) << error_;
    std::vector<std::string> expected;
    expected.reserve(words.size());
    for (const std::string& word : words) {
        expected.push_back("<" + word + ">");
    }
    EXPECT_EQ(AllLines(*child), expected);
    EXPECT_EQ(CommandLine(L"C:\\pkg\\Tools\\STAPL Player.exe", {L"-v", L"a b", L"x\\"}),
              L"\"C:\\pkg\\Tools\\STAPL Player.exe\" -v \"a b\" x\\");
}

TEST_F(WindowsProcessServiceTest, OutputLinesInputAndErrorOfARedirectedChild) {
    auto lines = Run({"lines"});
    ASSERT_TRUE(lines) << error_;
    EXPECT_EQ(AllLines(*lines),
              (std::vector<std::string>{"one", "two", "three", "four", "", "x", "last"}));
    EXPECT_EQ(lines->ReadChar(), -1);
    lines->WaitForExit();
    EXPECT_TRUE(lines->HasExited());

    // Standard input is empty; standard error is not mixed into the output that is parsed.
    auto io = Run({"io"});
    ASSERT_TRUE(io) << error_;
    EXPECT_EQ(AllLines(*io), (std::vector<std::string>{"eof", "to stdout"}));

    // Asked for, the error stream comes line by line apart, in both direct modes.
    for (const StartMode mode : {StartMode::DirectRedirected, StartMode::Direct}) {
        std::mutex mutex;
        std::vector<std::string> errors;
        Latch told;
        StartRequest request{"Tools\\tool.exe", {"io"}, "", mode, {}};
        request.onErrorLine = [&](const std::string& line) {
            const std::lock_guard<std::mutex> lock(mutex);
            errors.push_back(line);
            told.Set();
        };
        auto started = service_.Start(request);
        ASSERT_TRUE(started) << started.error().Text();
        if (mode == StartMode::DirectRedirected) {
            EXPECT_EQ(AllLines(*started.value()), (std::vector<std::string>{"eof", "to stdout"}));
        }
        ASSERT_TRUE(told.Wait());
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(errors, std::vector<std::string>{"to stderr"});
    }

    // The working directory: the package folder unless one is given.
    auto here = Run({"cwd"});
    ASSERT_TRUE(here) << error_;
    EXPECT_EQ(fs::path(AllLines(*here).at(0)), fs::path(pkg_.Root()));
    auto tools = Run({"cwd"}, StartMode::DirectRedirected, "Tools");
    ASSERT_TRUE(tools) << error_;
    EXPECT_EQ(fs::path(AllLines(*tools).at(0)), fs::path(pkg_.Root()) / "Tools");
}

TEST_F(WindowsProcessServiceTest, ProgramsThatCannotRunAreFailures) {
    const auto missing = service_.Start({"Tools\\missing.exe", {}, "", StartMode::Direct, {}});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
    const std::string error = missing.error().Text();
    EXPECT_NE(error.find(Testing::NoSuchFileText()), std::string::npos) << error;
    EXPECT_NE(error.find("missing.exe"), std::string::npos) << error;
    EXPECT_FALSE(service_.Start({"Tools\\missing.exe", {}, "", StartMode::Shell, {}}));
    EXPECT_FALSE(Run({"cwd"}, StartMode::DirectRedirected, "nowhere"));
    EXPECT_FALSE(error_.empty());
}

TEST_F(WindowsProcessServiceTest, ExitIsSeenAndNotifiedAndLinesAreDeliveredOnAThread) {
    Latch notified;
    auto sleeper = Run({"sleep", "300"}, StartMode::Direct, "", [&] { notified.Set(); });
    ASSERT_TRUE(sleeper) << error_;
    EXPECT_FALSE(sleeper->HasExited());
    EXPECT_EQ(sleeper->ExitCode(), std::nullopt);
    EXPECT_TRUE(sleeper->OutputReady()) << "nothing captured: nothing to wait for";
    sleeper->WaitForExit();
    EXPECT_TRUE(sleeper->HasExited());
    EXPECT_EQ(sleeper->ExitCode(), 0U);
    auto refused = Run({"no-such-mode"}, StartMode::Direct);
    ASSERT_TRUE(refused) << error_;
    refused->WaitForExit();
    EXPECT_EQ(refused->ExitCode(), 2U) << "the tool's answer to a mode it does not know";
    EXPECT_TRUE(notified.Wait());

    // The first child's output ends when it does, while another redirected child still runs.
    auto waiting = Run({"wait-for", "go"});
    ASSERT_TRUE(waiting) << error_;
    auto bystander = Run({"sleep", "3000"});
    ASSERT_TRUE(bystander) << error_;
    std::mutex mutex;
    std::vector<std::string> lines;
    bool onCallerThread = false;
    Latch ended;
    const auto caller = std::this_thread::get_id();
    waiting->DeliverLines(
        [&](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
            onCallerThread = onCallerThread || std::this_thread::get_id() == caller;
            return true;
        },
        [&] { ended.Set(); });
    EXPECT_EQ(waiting->ReadLine(), std::nullopt);
    waiting.reset();
    pkg_.Write("go", "");
    ASSERT_TRUE(ended.Wait());
    EXPECT_FALSE(bystander->HasExited());
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(onCallerThread);
}

TEST_F(WindowsProcessServiceTest, ShellStartsAndChildrenOutliveTheirParent) {
    // As the desktop starts the driver installer: waited for by its handle.
    auto shell = Run({"touch-after", "100", "installed"}, StartMode::Shell);
    ASSERT_TRUE(shell) << error_;
    shell->WaitForExit();
    EXPECT_TRUE(fs::exists(pkg_.Path("installed")));

    // A child started by a program that ends at once goes on and finishes its work.
    auto parent = Run({"start-outliver", "500", "outlived"});
    ASSERT_TRUE(parent) << error_;
    parent->WaitForExit();
    EXPECT_FALSE(fs::exists(pkg_.Path("outlived")));
    for (int i = 0; i < 600 && !fs::exists(pkg_.Path("outlived")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fs::exists(pkg_.Path("outlived")));
}

}  // namespace
}  // namespace ZELKUtil
