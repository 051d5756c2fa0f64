// zelk-cli on Linux: its entry over the hidraw transport, the sysfs probe and POSIX child
// processes. Ctrl+C (or SIGTERM, or SIGHUP when the terminal or the SSH session goes) asks the
// runner to stop starting new work; the runs under way go on to their end, and a second Ctrl+C
// tells what for.
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

#include "cli/cli_entry.h"
#include "cli/console_lines.h"
#include "cli/port_claim.h"
#include "hid/linux/linux_box_platform.h"
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

// Takes SIGINT, SIGTERM and SIGHUP on a thread of its own (blocked everywhere else, before any
// other thread starts), so that a signal only reaches the stop requests.
class StopSignals {
  public:
    explicit StopSignals(ZELKUtil::Cli::StopRequests& requests) : requests_(requests) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGHUP);
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

  private:
    void Wait() {
        while (!done_) {
            int signal = 0;
            if (sigwait(&set_, &signal) == 0 &&
                (signal == SIGINT || signal == SIGTERM || signal == SIGHUP)) {
                // A closed terminal takes no second Ctrl+C: it stops as SIGTERM does, and the
                // boxes under way are finished with nobody to watch.
                const std::string line = requests_.Request(signal != SIGINT);
                std::fprintf(stderr, "%s\n", line.c_str());
            }
        }
    }

    ZELKUtil::Cli::StopRequests& requests_;
    sigset_t set_{};
    bool blocked_ = false;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (`| head`) never ends the program, nor does a history that reaches
    // the file size limit (ulimit -f) with boxes mid-road: their writes fail instead, and a failed
    // write of the history is an outcome the runner handles.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    ZELKUtil::Cli::StopRequests requests;
    const StopSignals signals(requests);
    ZELKUtil::SteadyClock clock;
    ZELKUtil::Cli::CliPlatform platform{
        ZELK_VERSION,
        std::cout,
        std::cerr,
        Env,
        [] { return ::isatty(STDOUT_FILENO) == 1; },
        true,
        HostName(),
        ZELKUtil::NativeMachine(),
        UtcNow,
        clock,
        [](const std::string& package) -> std::unique_ptr<ZELKUtil::BoxPlatform> {
            return ZELKUtil::Hid::LinuxBoxPlatform::HearingWhenAsked(package);
        },
        // The sysfs name of a USB device ("1-2.3") is the path dfu-util's -p takes.
        true,
        false,
        ZELKUtil::Cli::ClaimPort,
        requests,
    };
    return ZELKUtil::Cli::RunCli(argc, argv, platform);
}
