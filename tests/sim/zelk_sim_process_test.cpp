// zelk-sim as a process: a bench run that would never end ends at its time limit with a word, and
// a stop signal takes the temporary package folders with it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "scenario/scenario_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kWatch = std::string(ZELK_SIM_TEST_DATA) + "/watch_without_its_stop.bench";

struct Child {
    pid_t pid = -1;
    int out = -1;  // its standard output and error, together
};

// zelk-sim with the arguments, its temporary folders made in `temp`, without a display.
Child Start(const std::vector<std::string>& arguments, const std::string& temp) {
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::dup2(pipe[1], STDERR_FILENO);
        ::setenv("TMPDIR", temp.c_str(), 1);
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            ::unsetenv(name);
        }
        std::vector<char*> argv = {const_cast<char*>(ZELK_SIM)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(ZELK_SIM, argv.data());
        _exit(127);
    }
    ::close(pipe[1]);
    return {pid, pipe[0]};
}

// What the child says up to and including the first line that holds `text` (all of it, when
// `text` is "").
std::string ReadUntil(int fd, const std::string& text) {
    std::string said;
    char c = 0;
    while (::read(fd, &c, 1) == 1) {
        said += c;
        if (!text.empty() && c == '\n' && said.find(text) != std::string::npos) {
            break;
        }
    }
    return said;
}

int WaitFor(const Child& child) {
    ::close(child.out);
    int status = 0;
    return ::waitpid(child.pid, &status, 0) == child.pid ? status : -1;
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "zelk-sim-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    bool Empty() const { return fs::is_empty(path_); }

  private:
    std::string path_;
};

TEST(ZelkSimProcess, AWatchWithoutItsStopEndsAtTheTimeLimitAndFails) {
    const TempDir temp;
    ASSERT_FALSE(temp.Path().empty());
    const Child child = Start({"bench", kWatch, "--time-limit", "30"}, temp.Path());
    ASSERT_GT(child.pid, 0);
    const std::string said = ReadUntil(child.out, "");
    const int status = WaitFor(child);
    ASSERT_TRUE(WIFEXITED(status)) << said;
    EXPECT_EQ(WEXITSTATUS(status), ZELKSim::kScenarioFailed) << said;
    EXPECT_NE(said.find(kWatch + ": the run went past its time limit of 30 s"), std::string::npos)
        << said;
    // Ctrl+C ended the watch, and what the program printed is shown.
    EXPECT_NE(said.find("1-1: found, normal mode, Q750 2.04"), std::string::npos) << said;
    EXPECT_TRUE(temp.Empty());
}

TEST(ZelkSimProcess, AStopSignalTakesTheTemporaryPackageWithIt) {
    struct Case {
        std::vector<std::string> arguments;
        std::string running;  // a line that says the package folder is made and in use
        int signal;
    };
    std::vector<Case> cases = {
        {{"bench", kWatch, "--live", "--time-limit", "0"}, "1-1: found", SIGTERM},
        {{"bench", kWatch, "--live", "--time-limit", "0"}, "1-1: found", SIGHUP},
    };
#ifdef ZELK_SIM_DEMO
    // The demo's working copy of its package, in the console.
    cases.push_back({{"demo"}, "working copy", SIGTERM});
    cases.push_back({{"demo"}, "working copy", SIGINT});
#endif
    for (const Case& c : cases) {
        const TempDir temp;
        ASSERT_FALSE(temp.Path().empty());
        const Child child = Start(c.arguments, temp.Path());
        ASSERT_GT(child.pid, 0);
        const std::string said = ReadUntil(child.out, c.running);
        EXPECT_NE(said.find(c.running), std::string::npos) << c.arguments[0] << ": " << said;
        EXPECT_FALSE(temp.Empty()) << c.arguments[0] << " made no folder in TMPDIR";
        ASSERT_EQ(::kill(child.pid, c.signal), 0);
        const int status = WaitFor(child);
        ASSERT_TRUE(WIFSIGNALED(status)) << c.arguments[0] << " status " << status;
        EXPECT_EQ(WTERMSIG(status), c.signal) << c.arguments[0];
        EXPECT_TRUE(temp.Empty()) << c.arguments[0] << " after signal " << c.signal;
    }
}

}  // namespace
