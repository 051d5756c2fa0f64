#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/box_run.h"
#include "cli/box_tools.h"
#include "cli/road_progress.h"
#include "controller/headless_view.h"
#include "controller/road_events.h"
#include "controller/upgrade_state.h"
#include "controller/view.h"
#include "platform/clock.h"

class ZELK;

namespace ZELKUtil::Cli {

// Follows one port's run: reports the log's lines as they come, and learns from the controller's
// road events what happens to the box on the port (never from the log's text, which the box's own
// strings reach): its state and progress as they change, which box it is (a box that takes
// another's place on the port is a box of its own, with a record of its own), and how its road
// ended.
class BoxWatch {
  public:
    // What the watch works with, all owned by the run.
    struct Run {
        std::string port;
        Clock& clock;
        const BoxRunSettings& settings;
        const BoxRun::Report& report;
        const BoxRunHooks& hooks;
        ToolErrors& toolErrors;
    };

    BoxWatch(Run run, const HeadlessView& view, const UpgradeState& state, ZELK& device);

    // Start-up's own lines are the package's, which the bench has judged already.
    void Skip() { shown_ = view_.log.size(); }
    // A poll begins: a box that connects in it has its log from here.
    void NotePoll() { pollStart_ = view_.log.size(); }
    // Every whole line the log got since the last call, and the progress when it moved.
    void ReportLines();
    void ReportState();
    void Follow(const RoadEvent& event);
    // The check box the run ticks now, as the window's operator would for a package that waits
    // for the operator: "Program ARM" for a box without the package's version (or "Program FPGA"
    // when the package has no ARM image), then "Program FPGA" once the box is back with the
    // package's version, when the package has FPGA images too.
    std::optional<Control> TickWanted();

    // How a box's road ended and, but for "upgraded" and "up-to-date", why.
    struct Verdict {
        std::string result;
        std::string reason;
    };
    // How the run ends, if it has; stopping: Ctrl+C came.
    std::optional<Verdict> Judge(bool boxPresent, bool stopping);
    BoxOutcome Finish(const Verdict& verdict);

  private:
    struct Heed;

    // A box answered in normal mode: the run's first, the same one again, or another in its place;
    // its record is kept before anything is written into it.
    void Connected(const RoadEvents::Connected& event);
    // Who the box that took another's place is, as the bench's look tells of a run's first box.
    void ReportFound(const RoadEvents::Connected& event);
    // Ends the current box's road with the result, its record completed.
    BoxOutcome EndBox(const Verdict& verdict, std::size_t logEnd);
    // How the run ends when its box is off the bus: at once told, and after a wait that depends on
    // where it left.
    std::optional<Verdict> Gone(bool boxPresent, std::int64_t now);
    std::optional<Verdict> GoneFor(std::int64_t now, bool inNormalMode) const;
    // Why the run stops with its box failed, when the box's road did not say.
    std::string WhyFailed() const;
    // The road the box's profile sends it on, begun now.
    void StartRoad();
    std::int64_t Now() const { return run_.clock.NowMs(); }
    void Report(BoxEvent event);
    void ReportProgress();

    Run run_;
    const HeadlessView& view_;
    const UpgradeState& state_;
    ZELK& device_;
    const std::int64_t startMs_;
    std::size_t shown_ = 0;
    std::size_t pollStart_ = 0;
    // The lines its tools wrote to their error streams, for its record.
    std::string toolLog_;
    // The current box: where its log begins, and what it said of itself.
    std::size_t boxLogStart_ = 0;
    std::int64_t boxStartMs_ = 0;
    BoxOutcome box_;
    bool connectedOnce_ = false;
    // Its record could not be written: nothing may be written into it.
    bool refused_ = false;
    std::string stage_ = "waiting";
    std::string lastState_;
    RoadProgress progress_;
    int lastPercent_ = -1;
    std::int64_t lastSecondsLeft_ = -1;
    bool upToDate_ = false;
    std::optional<Control> tickWanted_;
    // The package holds FPGA images and waits for the operator: the box is done only once its
    // FPGA is too.
    bool fpgaAfterArm_ = false;
    bool leftNormalMode_ = false;
    // Where the box is: in its normal mode, or on its way between two modes (off the bus for a
    // moment as it should be); and whether it is off the bus where it should not be.
    bool inNormalMode_ = false;
    bool expectAway_ = false;
    bool unplugged_ = false;
    Work downloading_ = Work::Nothing;
    // An ARM download into the box ended well and the box has not been seen back yet.
    bool awaitingReturn_ = false;
    bool completed_ = false;
    // The version the box reported when it came back from its download.
    std::string versionBack_;
    bool fpgaDone_ = false;
    std::optional<RoadEvents::FailReason> failure_;
    std::int64_t lastSeenMs_ = 0;
};

}  // namespace ZELKUtil::Cli
