// The running program as an operator meets it: time from exec to the window shown, its resident
// memory after start, and its CPU while it idles without a box. zelk-upgrade runs in its own X
// server (Xvfb) on the demo package, on an emulated tree of 1000 USB devices and 20 hidraw nodes
// bind-mounted on /sys, with udev's control socket in a private /run as where systemd-udevd runs.
//
//   zelk-bench-process [--smoke] [--idle-seconds=N] [benchmark flags]     (N: 60, smoke: 2)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulated_tree.h"
#include "summary_reporter.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kUsbDevices = 1000;
constexpr int kHidrawNodes = 20;
constexpr int kSettleMs = 2000;  // after the window shows: start-up done, the first polls run

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const char* folder, int keep_fd = -1) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        envp.push_back(*e);
    }
    for (const std::string& entry : env) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (folder != nullptr) {
        posix_spawn_file_actions_addchdir_np(&actions, folder);
    }
    if (keep_fd < 0) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void Stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

// Our own X server, on a display number it picks.
class XServer {
  public:
    XServer() {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        pid_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-noreset",
                      "-screen", "0", "1280x1024x24"},
                     {}, nullptr, fds[1]);
        ::close(fds[1]);
        std::string number;
        char c = 0;
        pollfd waiting{fds[0], POLLIN, 0};
        while (::poll(&waiting, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') {
            number.push_back(c);
        }
        ::close(fds[0]);
        if (!number.empty()) {
            display_ = ":" + number;
        }
    }
    ~XServer() { Stop(pid_); }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& Display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// Sees every top-level window that the X server maps.
class MapWatcher {
  public:
    explicit MapWatcher(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_) != 0) {
            return;
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        ok_ = true;
    }
    ~MapWatcher() { xcb_disconnect(connection_); }
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;

    bool Ok() const { return ok_; }
    // When the next top-level window was mapped; nullopt after the time-out.
    std::optional<Clock::time_point> NextMap(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const bool mapped =
                    (event->response_type & 0x7F) == XCB_MAP_NOTIFY &&
                    reinterpret_cast<xcb_map_notify_event_t*>(event)->event == root_;
                std::free(event);
                if (mapped) {
                    return Clock::now();
                }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return std::nullopt;
            }
            pollfd waiting{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&waiting, 1, static_cast<int>(left.count()));
        }
    }

  private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    bool ok_ = false;
};

std::optional<double> RssMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return std::nullopt;
}

// User and system CPU of the whole process, all threads, in milliseconds.
std::optional<double> CpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t after_name = text.rfind(')');
    if (after_name == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(after_name + 2));
    std::string field;
    double utime = 0;
    double stime = 0;
    for (int index = 3; fields >> field; ++index) {  // field 3 is the state
        if (index == 14) {
            utime = std::stod(field);
        } else if (index == 15) {
            stime = std::stod(field);
            return (utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
        }
    }
    return std::nullopt;
}

struct Setup {
    std::string display;
    std::string program = ZELK_BENCH_PROGRAM;
    std::string package = ZELK_BENCH_PACKAGE;
    int idle_seconds = 60;
};

pid_t StartProgram(const Setup& setup) {
    return Spawn({setup.program}, {"DISPLAY=" + setup.display, "QT_QPA_PLATFORM=xcb"},
                 setup.package.c_str());
}

void ExecToWindowShown(benchmark::State& state, const Setup& setup) {
    MapWatcher watcher(setup.display);
    if (!watcher.Ok()) {
        state.SkipWithError("cannot connect to the X server");
        return;
    }
    double rss_total = 0;
    while (state.KeepRunning()) {
        const auto started = Clock::now();
        const pid_t pid = StartProgram(setup);
        const auto shown = pid > 0 ? watcher.NextMap(std::chrono::seconds(30)) : std::nullopt;
        if (!shown) {
            Stop(pid);
            state.SkipWithError("the window was not shown within 30 s");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(*shown - started).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        rss_total += RssMiB(pid).value_or(0);
        Stop(pid);
    }
    state.counters["rss_MiB_after_start"] = rss_total / static_cast<double>(state.iterations());
}

void IdleCpu(benchmark::State& state, const Setup& setup) {
    MapWatcher watcher(setup.display);
    while (state.KeepRunning()) {
        const pid_t pid = StartProgram(setup);
        if (pid <= 0 || !watcher.Ok() || !watcher.NextMap(std::chrono::seconds(30))) {
            Stop(pid);
            state.SkipWithError("the program did not start");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        const auto from = Clock::now();
        const double before = CpuMs(pid).value_or(0);
        std::this_thread::sleep_for(std::chrono::seconds(setup.idle_seconds));
        const double used = CpuMs(pid).value_or(0) - before;
        const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
        Stop(pid);
        state.SetIterationTime(seconds);
        state.counters["cpu_ms_per_minute"] = used * 60.0 / seconds;
        state.counters["cpu_percent"] = used / 10.0 / seconds;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Setup setup;
    const bool smoke = ZELKBench::TakeFlag(argc, argv, "--smoke");
    if (smoke) {
        setup.idle_seconds = 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--idle-seconds=", 15) == 0) {
            setup.idle_seconds =
                static_cast<int>(std::max(1L, std::strtol(argv[i] + 15, nullptr, 10)));
            argv[i] = const_cast<char*>("--idle-seconds-taken");
        }
    }
    ZELKBench::TakeFlag(argc, argv, "--idle-seconds-taken");

    ZELKBench::TreeMount mount;  // before any thread starts
    std::string tree = "the machine's own /sys";
    if (mount.Usable() && !std::getenv("LD_PRELOAD")) {
        const std::string root = mount.Scratch() + "/tree";
        ZELKBench::WriteUsbTree(root, kUsbDevices, kHidrawNodes);
        if (mount.Show(root) && mount.PretendUdevRuns()) {
            tree = std::to_string(kUsbDevices) + " USB devices and " +
                   std::to_string(kHidrawNodes) + " hidraw nodes, " + mount.Method() +
                   "; /run/udev/control present (udev's events heard)";
        }
    }
    XServer x;
    if (x.Display().empty()) {
        std::fprintf(stderr, "zelk-bench-process: Xvfb did not start\n");
        return 1;
    }
    setup.display = x.Display();
    std::printf("Program: %s in %s on Xvfb %s; device tree: %s; idle period %d s.\n",
                setup.program.c_str(), setup.package.c_str(), setup.display.c_str(), tree.c_str(),
                setup.idle_seconds);

    auto* shown = benchmark::RegisterBenchmark(
        "exec_to_window_shown", [&](benchmark::State& s) { ExecToWindowShown(s, setup); });
    shown->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(smoke ? 1 : 5);
    auto* idle =
        benchmark::RegisterBenchmark("idle_cpu", [&](benchmark::State& s) { IdleCpu(s, setup); });
    idle->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    benchmark::Initialize(&argc, argv);
    ZELKBench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
