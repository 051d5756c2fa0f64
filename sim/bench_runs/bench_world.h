#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "box/emulated_device_probe.h"
#include "box/emulated_hid_transport.h"
#include "cli/bench_runner.h"
#include "cli/cli_entry.h"
#include "scenario/scenario_world.h"
#include "time/real_time_clock.h"
#include "tools/emulated_tools.h"

namespace ZELKSim {

// One box run's backends on the emulated bus: a transport, a probe and the emulated tools of its
// own, over the boxes that every run shares.
class EmulatedBoxPlatform final : public ZELKUtil::BoxPlatform {
  public:
    EmulatedBoxPlatform(RealTimeClock& clock, const EmulatedBus& bus, const std::string& package,
                        const ToolSettings& settings)
        : hid_(bus), probe_(bus), tools_(clock, bus, package) {
        tools_.Settings() = settings;
    }
    HidTransport& Transport() override { return hid_; }
    DeviceTreeProbe& Probe() override { return probe_; }
    ZELKUtil::ProcessService& Processes() override { return tools_; }

  private:
    EmulatedHidTransport hid_;
    EmulatedDeviceProbe probe_;
    EmulatedProcessService tools_;
};

#ifdef _WIN32
constexpr bool kWindowsHost = true;
#else
constexpr bool kWindowsHost = false;
#endif

// A bench of emulated boxes for the bench runner, in real time run `speed` times faster than the
// wall clock (the runs are threads, which virtual time cannot serve): the boxes on their ports,
// the package folder the owner provides, and what the runner prints, line by line.
class BenchWorld {
    std::string package_;

  public:
    // 2026-12-07T01:37:36Z, the runner's utcNow here, in milliseconds since 1970.
    static constexpr std::int64_t kUtcStartMs = 1796607456000;

    BenchWorld(std::string packageFolder, int speed)
        : package_(std::move(packageFolder)), clock(speed) {}

    // A box on the port, plugged in in normal mode.
    EmulatedBox& AddBox(const std::string& port, const BoxIdentity& identity,
                        const std::string& version) {
        EmulatedBox& box = boxes.emplace_back(clock, identity, port);
        box.SetFirmwareVersion(version);
        bus.Attach(box);
        return box;
    }

    // Runs the bench runner with the options (the package is this world's) to its exit code.
    int Run(ZELKUtil::Cli::Options options) {
        options.package = package_;
        ZELKUtil::Cli::BenchSeams seams{clock,
                                        [this] {
                                            ++platformsMade;
                                            return std::make_unique<EmulatedBoxPlatform>(
                                                clock, bus, package_, tools);
                                        },
                                        "x86_64",
                                        "bench-host",
                                        [] { return std::string("2026-12-07T01:37:36Z"); },
                                        [this](const std::string& line) { Keep(out, line, true); },
                                        [this](const std::string& line) { Keep(err, line, false); },
                                        true,
                                        "",
                                        {},
                                        claimPort};
        seams.programVersion = programVersion;
        seams.outTookAll = outTookAll;
        seams.utcNowMs = utcNowMs;
        ZELKUtil::Cli::BenchRunner runner(std::move(seams), std::move(options), stopping);
        running = &runner;
        const int code = runner.Run();
        running = nullptr;
        return code;
    }

    // zelk-cli's own platform over this bench, for its entry: the streams, the environment and
    // the stop requests are the caller's; the package is the command line's.
    ZELKUtil::Cli::CliPlatform Platform(std::ostream& outStream, std::ostream& errStream,
                                        std::function<std::string(const std::string&)> env,
                                        ZELKUtil::Cli::StopRequests& stops) {
        ZELKUtil::Cli::CliPlatform platform{
            "0", outStream, errStream, std::move(env), [] { return false; }, true, "bench-host",
            "x86_64", [] { return std::string("2026-12-07T01:37:36Z"); }, clock,
            [this](const std::string& package) -> std::unique_ptr<ZELKUtil::BoxPlatform> {
                ++platformsMade;
                return std::make_unique<EmulatedBoxPlatform>(clock, bus, package, tools);
            },
            true,
            // The history's default place is the host's, whose files the bench writes.
            kWindowsHost, claimPort, stops};
        platform.utcNowMs = utcNowMs;
        return platform;
    }

    RealTimeClock clock;
    std::deque<EmulatedBox> boxes;
    EmulatedBus bus;
    ToolSettings tools;
    std::atomic<bool> stopping{false};
    // The runner while it runs, for what the platform's entry does from another thread.
    std::atomic<ZELKUtil::Cli::BenchRunner*> running{nullptr};
    // The backends the runner has asked for so far.
    std::atomic<int> platformsMade{0};
    // The time of each JSON line: the bench's clock, from the moment its utcNow gives.
    std::function<std::int64_t()> utcNowMs = [this, start = clock.NowMs()] {
        return kUtcStartMs + (clock.NowMs() - start);
    };
    // How the runner claims ports (none: nothing is claimed, as one process is all there is).
    std::function<std::unique_ptr<ZELKUtil::Cli::PortClaim>(const std::string&, std::string*)>
        claimPort;
    // What the runner's records name as the program, and whether standard output took all that
    // was written to it (unset: it always does).
    std::string programVersion = "zelk-cli 0.0.0";
    std::function<bool()> outTookAll;
    std::mutex outLock;
    std::vector<std::string> out;
    std::vector<std::string> err;
    // Told of every line of standard output as it is printed (under the output's lock).
    std::function<void(const std::string&)> onLine = [](const std::string&) {};
    // Told of every line of the error stream as it is printed (under the same lock).
    std::function<void(const std::string&)> onErrorLine = [](const std::string&) {};

  private:
    void Keep(std::vector<std::string>& lines, const std::string& line, bool output) {
        const std::lock_guard<std::mutex> lock(outLock);
        lines.push_back(line);
        (output ? onLine : onErrorLine)(line);
    }
};

}  // namespace ZELKSim
