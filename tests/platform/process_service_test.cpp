#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/posix/posix_process_service.h"
#include "support/latch.h"
#include "support/temp_package.h"

namespace ZELKUtil {
namespace {

namespace fs = std::filesystem;
using Testing::Latch;
using Testing::TempPackage;

// Makes a child that waits in the package folder until the test writes "go".
const char* const kWaitForGo = "while [ ! -e go ]; do sleep 0.01; done\n";

class ProcessServiceTest : public ::testing::Test {
  protected:
    std::unique_ptr<ChildProcess> Run(const std::string& script,
                                      StartMode mode = StartMode::DirectRedirected,
                                      std::vector<std::string> arguments = {},
                                      const std::string& workingDirectory = "",
                                      std::function<void()> onExit = {}) {
        pkg_.WriteProgram("Tools/tool", "#!/bin/sh\n" + script);
        auto started = service_.Start(
            {"Tools/tool", std::move(arguments), workingDirectory, mode, std::move(onExit)});
        if (!started) {
            error_ = started.error().Text();
            return nullptr;
        }
        return std::move(started).value();
    }
    std::vector<std::string> AllLines(ChildProcess& child) {
        std::vector<std::string> lines;
        while (auto line = child.ReadLine()) {
            lines.push_back(*line);
        }
        return lines;
    }

    TempPackage pkg_;
    PosixProcessService service_{pkg_.Root()};
    std::string error_;
};

TEST_F(ProcessServiceTest, LinesEndAtCrLfOrCrLfEvenWhenSplitAcrossWrites) {
    auto child = Run("printf 'one\\ntwo\\r\\nthree\\rfour\\n\\nx\\r'; sleep 0.2; printf '\\nlast'");
    ASSERT_TRUE(child) << error_;
    EXPECT_EQ(AllLines(*child),
              (std::vector<std::string>{"one", "two", "three", "four", "", "x", "last"}));
    EXPECT_EQ(child->ReadLine(), std::nullopt);
    EXPECT_EQ(child->ReadChar(), -1);
}

TEST_F(ProcessServiceTest, CharactersAndLinesShareOneStream) {
    auto child = Run("printf 'Copying\\r\\n[# #] finished\\r\\n#\\r\\nend\\n'");
    ASSERT_TRUE(child) << error_;
    EXPECT_EQ(child->ReadLine(), "Copying");
    std::string bar;
    while (bar.empty() || bar.back() != ']') {
        const int c = child->ReadChar();
        ASSERT_NE(c, -1);
        bar += static_cast<char>(c);
    }
    EXPECT_EQ(bar, "[# #]");
    EXPECT_EQ(child->ReadLine(), " finished");
    // The LF of the CR LF that ended the line is not a character of its own.
    EXPECT_EQ(child->ReadChar(), '#');
    // A CR read as a character still ends the line: its LF makes no empty line.
    EXPECT_EQ(child->ReadChar(), '\r');
    EXPECT_EQ(AllLines(*child), std::vector<std::string>{"end"});
}

TEST_F(ProcessServiceTest, DeliversLinesOnAReaderThreadAfterTheObjectIsDropped) {
    auto child = Run(kWaitForGo + std::string("printf 'a\\nb\\r\\nc'"));
    ASSERT_TRUE(child) << error_;
    std::mutex mutex;
    std::vector<std::string> lines;
    bool onCallerThread = false;
    std::size_t linesAtEnd = 0;
    Latch ended;
    const auto caller = std::this_thread::get_id();
    child->DeliverLines(
        [&](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
            onCallerThread = onCallerThread || std::this_thread::get_id() == caller;
            return true;
        },
        [&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                linesAtEnd = lines.size();
            }
            ended.Set();
        });
    EXPECT_EQ(child->ReadLine(), std::nullopt);
    child.reset();
    pkg_.Write("go", "");
    ASSERT_TRUE(ended.Wait());
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(linesAtEnd, 3U);
    EXPECT_FALSE(onCallerThread);
}

// A child's error stream, when asked for, comes line by line apart from its output, in every start
// mode, and after its object is gone; it never mixes into the captured output.
TEST_F(ProcessServiceTest, TheErrorStreamIsToldApartFromTheOutput) {
    for (const StartMode mode : {StartMode::DirectRedirected, StartMode::Direct}) {
        pkg_.WriteProgram("Tools/tool", "#!/bin/sh\necho out\nprintf 'no device\\nlost\\n' >&2\n");
        std::mutex mutex;
        std::vector<std::string> errors;
        Latch both;
        StartRequest request{"Tools/tool", {}, "", mode, {}};
        request.onErrorLine = [&](const std::string& line) {
            const std::lock_guard<std::mutex> lock(mutex);
            errors.push_back(line);
            if (errors.size() == 2) {
                both.Set();
            }
        };
        auto started = service_.Start(request);
        ASSERT_TRUE(started) << started.error().Text();
        std::unique_ptr<ChildProcess> child = std::move(started).value();
        if (mode == StartMode::DirectRedirected) {
            EXPECT_EQ(AllLines(*child), std::vector<std::string>{"out"});
        }
        child.reset();
        ASSERT_TRUE(both.Wait());
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(errors, (std::vector<std::string>{"no device", "lost"}));
    }
}

TEST_F(ProcessServiceTest, ProgramsThatCannotRunAreFailures) {
    const auto missing = service_.Start({"Tools/missing", {}, "", StartMode::Direct, {}});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
    EXPECT_NE(missing.error().Text().find(std::strerror(ENOENT)), std::string::npos);

    pkg_.Write("Tools/plain", "#!/bin/sh\n");
    const auto plain = service_.Start({"Tools/plain", {}, "", StartMode::DirectRedirected, {}});
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.error().kind, ErrorKind::AccessDenied);
    EXPECT_NE(plain.error().Text().find(std::strerror(EACCES)), std::string::npos);

    EXPECT_FALSE(Run("", StartMode::Shell, {}, "nowhere"));
    EXPECT_NE(error_.find("nowhere: " + std::string(std::strerror(ENOENT))), std::string::npos)
        << error_;
}

TEST_F(ProcessServiceTest, ArgumentsStayWholeAndTheProgramIsFoundFromThePackage) {
    TempPackage elsewhere;
    auto child =
        Run("pwd; for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done", StartMode::DirectRedirected,
            {"two  blanks", " -x", "a;b $HOME *", ""}, elsewhere.Root());
    ASSERT_TRUE(child) << error_;
    EXPECT_EQ(AllLines(*child),
              (std::vector<std::string>{fs::canonical(elsewhere.Root()).string(), "<two  blanks>",
                                        "< -x>", "<a;b $HOME *>", "<>"}));

    // A shell start captures nothing and runs in the package folder unless told otherwise.
    child = Run("pwd > where.txt; echo not captured", StartMode::Shell);
    ASSERT_TRUE(child) << error_;
    EXPECT_EQ(child->ReadLine(), std::nullopt);
    child->WaitForExit();
    std::ifstream where(pkg_.Path("where.txt"));
    std::string folder;
    std::getline(where, folder);
    EXPECT_EQ(folder, fs::canonical(pkg_.Root()).string());
}

TEST_F(ProcessServiceTest, ExitIsSeenAndNotifiedAndTheChildIsReaped) {
    Latch notified;
    auto child = Run("echo $$\n" + std::string(kWaitForGo) + "\nexit 7",
                     StartMode::DirectRedirected, {}, "", [&] { notified.Set(); });
    ASSERT_TRUE(child) << error_;
    const pid_t pid = std::stoi(child->ReadLine().value_or("0"));
    EXPECT_FALSE(child->HasExited());
    EXPECT_EQ(child->ExitCode(), std::nullopt);
    pkg_.Write("go", "");
    child->WaitForExit();
    EXPECT_TRUE(child->HasExited());
    EXPECT_EQ(child->ExitCode(), 7U);
    EXPECT_TRUE(notified.Wait());
    // A zombie would still answer kill().
    const int result = ::kill(pid, 0);
    const int err = errno;
    EXPECT_EQ(result, -1);
    EXPECT_EQ(err, ESRCH);
}

TEST_F(ProcessServiceTest, ChildOutlivesItsObjectInItsOwnSession) {
    pkg_.Write("marker", "");
    const int inherited = ::open(pkg_.Path("marker").c_str(), O_RDONLY);  // no close-on-exec
    ASSERT_GE(inherited, 0);
    Latch ended;
    auto child =
        Run("echo $$\n" + std::string(kWaitForGo) + "echo more 2>/dev/null; echo done > done.txt",
            StartMode::DirectRedirected, {}, "", [&] { ended.Set(); });
    ASSERT_TRUE(child) << error_;
    const pid_t pid = std::stoi(child->ReadLine().value_or("0"));
    EXPECT_EQ(::getsid(pid), pid);
    EXPECT_NE(::getsid(pid), ::getsid(0));
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code ec;
        EXPECT_NE(fs::read_symlink(entry.path(), ec), fs::path(pkg_.Path("marker")));
    }
    ::close(inherited);
    // Dropping the object closes the output; writing to it must not kill the child.
    child.reset();
    pkg_.Write("go", "");
    ASSERT_TRUE(ended.Wait());
    EXPECT_TRUE(fs::exists(pkg_.Path("done.txt")));
}

}  // namespace
}  // namespace ZELKUtil
