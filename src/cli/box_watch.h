#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/bench_operator.h"
#include "cli/box_outcome.h"
#include "cli/box_tools.h"
#include "cli/road_progress.h"
#include "cli/run_clocks.h"
#include "controller/headless_view.h"
#include "controller/road_events.h"
#include "platform/clock.h"

namespace ZELKUtil::Cli {

// Follows one port's run: turns the controller's road events into zelk-cli's own events (each
// step of the box's road, its progress, the controller's decisions, the log's lines as they come)
// and ends each box's record where the controller tells the end of its road, or where one of the
// run's own clocks runs out. Nothing here judges a box from the log's text or the controller's
// state: the road's events say who the box is (a box that takes another's place on the port ends
// the first box's road, and gets a record of its own) and how its road ended.
class BoxWatch {
  public:
    // What the watch works with, all owned by the run.
    struct Run {
        std::string port;
        Clock& clock;
        const BoxRunSettings& settings;
        const BoxReport& report;
        const BoxRunHooks& hooks;
        ToolErrors& toolErrors;
    };

    BoxWatch(Run run, const HeadlessView& view);

    // Start-up's own lines are the package's, which the bench has judged already.
    void Skip() { shown_ = view_.log.size(); }
    // A poll begins: a box that connects in it has its log from here.
    void NotePoll() { pollStart_ = view_.log.size(); }
    // Every whole line the log got since the last call, and the progress when it moved.
    void ReportLines();
    void Follow(const RoadEvent& event);
    // The box on the port, in its bootloader or programmer mode, is known all the same: its road
    // goes on from there (see ResumeFrom); `ageSeconds`: how old the record taken up is.
    void Resume(const ResumeFrom& from, std::optional<std::int64_t> ageSeconds);
    // The check box the run ticks now, as the window's operator would (see BenchOperator).
    std::optional<Control> TickWanted();

    // How the run ends, if it has: the end of the box's road as the controller told it, or one of
    // the run's own clocks; `stopping`: Ctrl+C came.
    std::optional<RunVerdict> Judge(bool boxPresent, bool stopping);
    BoxOutcome Finish(const RunVerdict& verdict);
    // The box waits for the bench's FPGA programmer (its state says so), and has it.
    void WaitsForProgrammer();
    void GotProgrammer();
    // Its road ends with the verdict, whatever the controller tells of it afterwards.
    void EndWith(const RunVerdict& verdict) {
        if (!end_) {
            end_ = verdict;
        }
    }

  private:
    struct Heed;

    // A box answered in normal mode: the run's first, the same one again, or one that took
    // another's place; its record is kept before anything is written into it.
    void Connected(const RoadEvents::Connected& event);
    void Decided(const Decision& decision);
    void DownloadProgress(const RoadEvents::DownloadProgress& event);
    void Ended(const RoadEvents::Ended& event);
    // Its road got as far as the mark: its record says so before the next step.
    void Mark(RoadMark mark);
    // The writing of the image into the box begins: its record names it first.
    void Writes(const std::string& image);
    // The road the box's profile sends it on, begun now.
    void StartRoad(bool countdown);
    // A road that writes these, from the box's profile (profile_).
    void StartRoad(bool arm, bool fpga, bool countdown);
    // Ends the current box's record with the verdict.
    BoxOutcome EndBox(const RunVerdict& verdict, std::size_t logEnd);
    std::int64_t Now() const { return run_.clock.NowMs(); }
    void Report(const BoxEvent& event) const { run_.report(event); }
    void ReportState(BoxState state);
    void ReportProgress();

    Run run_;
    const HeadlessView& view_;
    RunClocks clocks_;
    BenchOperator operator_;
    RoadProgress progress_;
    std::size_t shown_ = 0;
    std::size_t pollStart_ = 0;
    // The lines its tools wrote to their error streams, for its record.
    std::string toolLog_;
    // The current box: where its log begins, what it said of itself, what the package programs
    // in it, and the version it reported last.
    std::size_t boxLogStart_ = 0;
    std::int64_t boxStartMs_ = 0;
    BoxOutcome box_;
    bool boxKnown_ = false;
    bool anotherBox_ = false;
    std::optional<ZelkProfile> profile_;
    std::string lastVersion_;
    // Its record could not be written: nothing may be written into it.
    bool refused_ = false;
    // Ctrl+C came before the last judgement: a box that ends now ends after it.
    bool stopSeen_ = false;
    std::optional<BoxState> toldState_;
    // What it was doing when it began to wait for the programmer.
    std::optional<BoxState> beforeWait_;
    Work downloading_ = Work::Nothing;
    int downloadQuarters_ = 0;
    // The end of its road, as the controller told it.
    std::optional<RunVerdict> end_;
};

}  // namespace ZELKUtil::Cli
