// zelk-cli on Linux: the bench runner over the hidraw transport, the sysfs probe and POSIX child
// processes. Ctrl+C (or SIGTERM) asks the runner to stop starting new work; the runs under way go
// on to their end.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "cli/bench_runner.h"
#include "cli/cli_options.h"
#include "cli/history.h"
#include "cli/linux/linux_box_platform.h"
#include "platform/steady_clock.h"
#include "platform/system_info.h"

namespace {

std::string Env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? value : "";
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = {};
    if (::gmtime_r(&now, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        return "";
    }
    return text;
}

// Takes SIGINT and SIGTERM on a thread of its own (blocked everywhere else, before any other
// thread starts), so that a signal only sets the flag the runner reads.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGUSR1);
        blocked_ = pthread_sigmask(SIG_BLOCK, &set_, nullptr) == 0;
        if (blocked_) {
            thread_ = std::thread([this] { Wait(); });
        }
    }
    ~StopSignals() {
        if (blocked_) {
            done_ = true;
            pthread_kill(thread_.native_handle(), SIGUSR1);
            thread_.join();
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    const std::atomic<bool>& Stopping() const { return stopping_; }

  private:
    void Wait() {
        while (!done_) {
            int signal = 0;
            if (sigwait(&set_, &signal) == 0 && (signal == SIGINT || signal == SIGTERM)) {
                if (!stopping_.exchange(true)) {
                    std::fputs("zelk-cli: stopping: the runs under way finish first\n", stderr);
                }
            }
        }
    }

    sigset_t set_{};
    bool blocked_ = false;
    std::atomic<bool> done_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const ZELKUtil::Cli::ParsedCommandLine parsed =
        ZELKUtil::Cli::ParseCommandLine(argc, argv, ZELK_VERSION);
    if (!parsed.options) {
        std::fputs(parsed.output.c_str(), parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }
    const StopSignals signals;
    ZELKUtil::SteadyClock clock;
    const std::string package = parsed.options->package;
    ZELKUtil::Cli::BenchSeams seams{
        clock,
        [package] { return std::make_unique<ZELKUtil::Cli::LinuxBoxPlatform>(package); },
        ZELKUtil::NativeMachine(),
        HostName(),
        UtcNow,
        [](const std::string& line) { std::cout << line << std::endl; },
        [](const std::string& line) { std::cerr << line << std::endl; },
        // The sysfs name of a USB device ("1-2.3") is the path dfu-util's -p takes.
        true,
        ZELKUtil::Cli::DefaultHistoryPath(Env, false),
        {},
    };
    // A terminal that is not a dumb one takes the cursor movements of the progress lines.
    const std::string term = Env("TERM");
    if (::isatty(STDOUT_FILENO) == 1 && !term.empty() && term != "dumb") {
        seams.terminal = [](const std::string& text) { std::cout << text << std::flush; };
    }
    ZELKUtil::Cli::BenchRunner runner(std::move(seams), *parsed.options, signals.Stopping());
    return runner.Run();
}
