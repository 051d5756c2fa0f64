#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli/events.h"
#include "hid/device_probe.h"
#include "hid/hid_transport.h"
#include "platform/clock.h"
#include "platform/process_service.h"

namespace ZELKUtil::Cli {

// What one box's run works through: a transport, a probe and a process service of its own (the
// run confines the transport and the probe to the box's port, so they see no other box). The
// clock is shared: a run only reads it and sleeps on it.
class BoxPlatform {
  public:
    virtual ~BoxPlatform() = default;
    virtual HidTransport& Transport() = 0;
    virtual DeviceTreeProbe& Probe() = 0;
    virtual ProcessService& Processes() = 0;
};

struct BoxRunSettings {
    std::string packageFolder;
    std::string nativeMachine;
    // dfu-util's -p path of the box's port; "" lets dfu-util find the one DFU device by its IDs.
    std::string dfuUtilPort;
    // How long the box may stay off the bus in the middle of its run before it counts as
    // unplugged ("interrupted").
    std::int64_t goneMs = 30000;
    // The longest a run may take.
    std::int64_t limitMs = std::int64_t{20} * 60 * 1000;
};

// How one box's run ended, and what the history keeps of it.
struct BoxOutcome {
    // "upgraded", "up-to-date", "failed", "interrupted" or "stopped".
    std::string result;
    std::string model;
    std::string serial;
    std::string versionBefore;
    std::string versionAfter;
    std::string log;
    std::int64_t durationMs = 0;
};

// Plays the upgrade of the box on one USB port through the very controller the window uses, poll
// by poll as the window's timer would, acting where the window's operator would (ticking what the
// package programs when the package waits for the operator), and tells every line of its log and
// every change of its state and progress as it happens.
class BoxRun {
  public:
    using Report = std::function<void(const BoxEvent&)>;

    // `stopping`: once set, a run whose box has not yet left its normal mode stops ("stopped");
    // one that has (a download or an FPGA run may be under way) goes on to its end.
    BoxRun(BoxPlatform& platform, Clock& clock, std::string port, BoxRunSettings settings,
           Report report, const std::atomic<bool>& stopping);

    BoxOutcome Run();

  private:
    class Watch;

    BoxPlatform& platform_;
    Clock& clock_;
    std::string port_;
    BoxRunSettings settings_;
    Report report_;
    const std::atomic<bool>& stopping_;
};

}  // namespace ZELKUtil::Cli
