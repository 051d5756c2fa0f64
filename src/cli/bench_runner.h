#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/box_run.h"
#include "cli/box_tools.h"
#include "cli/cli_options.h"
#include "cli/events.h"
#include "cli/history.h"
#include "cli/port_claim.h"
#include "cli/programmer_turn.h"
#include "cli/progress_board.h"
#include "cli/run_lines.h"
#include "package/zelk_profile.h"

class ZELK;

namespace ZELKUtil::Cli {

// A run's turn on the bench while it must be the only one there (DFUAPP, or ports the package's
// dfu-util cannot be told): held for the run's whole road, and passed to the next run in the queue
// when it goes, however the run ended. Empty for a run that needs no turn. (A box's FPGA needs
// only the bench's one programmer: see ProgrammerTurn.)
class BenchTurn {
  public:
    BenchTurn() = default;
    explicit BenchTurn(std::function<void()> pass) : pass_(std::move(pass)) {}
    ~BenchTurn() {
        if (pass_) {
            pass_();
        }
    }
    BenchTurn(const BenchTurn&) = delete;
    BenchTurn& operator=(const BenchTurn&) = delete;
    BenchTurn(BenchTurn&& other) noexcept : pass_(std::exchange(other.pass_, {})) {}
    BenchTurn& operator=(BenchTurn&&) = delete;

  private:
    std::function<void()> pass_;
};

// What the bench runner works through; the platform's entry fills it in, tests the emulator.
struct BenchSeams {
    Clock& clock;
    // A transport, probe and process service of its own for each box's run, and one for the
    // runner's looks at the bus, kept for the runner's life: a --watch looks once a period, and its
    // journal keeps what it read while nothing changes.
    std::function<std::unique_ptr<BoxPlatform>()> newPlatform;
    std::string nativeMachine;
    std::string host;
    // Now, in UTC, as ISO 8601 text.
    std::function<std::string()> utcNow;
    // One line to standard output, one to the error stream (each without its line end).
    std::function<void(const std::string&)> out;
    std::function<void(const std::string&)> err;
    // Whether a port's name is dfu-util's -p path (on Linux: the sysfs name of the USB device).
    // Where it is not, boxes are upgraded one at a time, so that dfu-util only ever sees one.
    bool portsAreDfuUtilPaths = false;
    // The history file when the command line names none ("" when there is no per-user folder).
    std::string defaultHistory;
    // Set where standard output is a terminal that takes cursor movements: human output then goes
    // here as raw text, with a progress line per box redrawn in place at the terminal's foot.
    std::function<void(const std::string&)> terminal;
    // Claims a port for this process (null: another zelk-cli holds it); unset, nothing is
    // claimed (the emulator's benches, where one process is all there is).
    std::function<std::unique_ptr<PortClaim>(const std::string& port, std::string* why)> claimPort;
    // "zelk-cli X.Y.Z", for the history's records.
    std::string programVersion = {};
    // Flushes standard output and tells whether it took everything written to it so far (a
    // closed pipe or a full disk did not); unset, it always did.
    std::function<bool()> outTookAll = {};
    // Now, in milliseconds since 1970-01-01T00:00:00Z: the time of each JSON line.
    std::function<std::int64_t()> utcNowMs = SystemUtcMs;
};

// The command-line program's work: lists the boxes on the bus, says whether they are up to date,
// and upgrades several at once, each in a run of its own confined to its USB port (a thread each:
// a run's waits block only its own thread, and every run has its own device object, read-path
// modes, transport and probe), with a history record for every box.
class BenchRunner {
  public:
    BenchRunner(BenchSeams seams, Options options, const std::atomic<bool>& stopping);
    // The exit code.
    int Run();
    // The runs still under way and what each is doing, for a second Ctrl+C: "1-1 (downloading),
    // 1-2 (bootloader)"; "nothing" when none is.
    std::string Waiting();

    // The package as start-up reads it.
    struct Package {
        std::string versionLine;
        std::vector<ZelkProfile> profiles;
        bool dfuUtil = false;
        bool fpgaImages = false;
    };
    // A port of the bench and the run on it: its thread, its place in the queue of runs that must
    // be alone, its claim, and every box the run met there.
    struct PortSlot {
        std::string port;
        std::thread thread;
        // Its place in the queue of runs that must be alone on the bench; none when it need not.
        std::optional<std::uint64_t> turn;
        std::atomic<bool> ended{false};
        // No other zelk-cli works on the box while the slot holds its port.
        std::unique_ptr<PortClaim> claim;
        // Every box its run met on the port, in order (written by its thread until `ended`).
        std::vector<BoxOutcome> outcomes;
        // The port's last record when an earlier run left it unfinished, and the box in its
        // bootloader or programmer mode that the run knows from it (or from --as).
        std::optional<HistoryRecord> leftThere;
        std::optional<ResumeFrom> resume;
        // What a look found on the port after its run ended: a change shows another box.
        std::optional<Events::Found> settled;
    };
    // The runs still under way note in the history where each box was (the Windows console's
    // close, which ends the process seconds later whatever is under way); nothing new starts.
    void NoteUnderway(const std::string& why);

  private:
    int RunCommand();
    int List(bool check);
    int Upgrade();
    // The upgrade once its run record is on the disk: every box's run, to the exit code.
    int UpgradeBoxes(const Package& package, const HistoryFile& history);
    // Starts the boxes there and asked for, and watches the bus until the batch is done.
    int StartAndWatch(const Package& package, const HistoryFile& history);
    // The run's closing record, with its exit code and how long it took; the exit code the run
    // ends with (the history's when the record could not be written).
    int CloseRun(const HistoryFile& history, int code, std::int64_t startMs);
    // The station the records name: --station, else the host's name.
    const std::string& Station() const;
    int ShowHistory();
    // The records as a table (with the station where they come from several files or stations),
    // CSV or JSON lines.
    void ShowRecords(const std::vector<HistoryRecord>& records, bool severalFiles);
    // What start-up makes of the package folder; nullopt (after saying why) when it cannot be used.
    // noneWillDo: a folder that is no package is no package at all, said nowhere (list without
    // --package, which shows the bus as it is).
    std::optional<Package> CheckPackage(bool noneWillDo = false);
    // No package: none at all where none will do, else nullopt after saying why.
    std::optional<Package> NoPackage(bool noneWillDo, const std::string& why);
    // The folder's full name, for words that must say which folder was meant.
    static std::string AbsoluteFolder(const std::string& folder);
    // Whether the word is one of the words (a port among ports, a serial among serials).
    static bool Listed(const std::vector<std::string>& words, const std::string& word);
    // Whether the command line names the box (by port or serial), or names none.
    bool Named(const Events::Found& box) const;
    // Each box on the bus as a "found" event, by port.
    // Every box present, or only the one on the port named.
    std::vector<Events::Found> Look(const Package& package,
                                    const std::optional<std::string>& only = std::nullopt);
    // What the box in normal mode on the port says of itself.
    Events::Found LookAt(ZELK& device, HidTransport& transport, const std::string& port,
                         std::pair<std::uint16_t, std::uint16_t> ids, const Package& package);
    // The ports with a box in any mode, from the bus alone: no box is talked to.
    std::vector<std::string> PresentPorts(const Package& package);
    // The backends of the looks at the bus, made at the first look.
    BoxPlatform& LookPlatform();
    // The ports where a box is in its FPGA programmer mode, from the bus alone.
    std::vector<std::string> ProgrammersOnBus();
    void Emit(const BoxEvent& event);
    // A line of the error stream, with the progress board (when there is one) kept whole.
    void Say(const std::string& line);
    // The whole run fails: said on the error stream and, under --json, an error event. Returns
    // the exit code.
    int Fail(int exitCode, const std::string& message);
    // Under --json, the summary that ends a list, check or upgrade with its exit code.
    void Conclude(int exitCode);
    // What each JSON line of this run carries: now, and the run's id.
    LineStamp Stamp() const;
    // Waits for the slot's turn on the bench when it has one (after saying that it waits); the
    // turn passes on with the returned guard.
    BenchTurn TakeTurn(const PortSlot& slot);
    // Under --watch: the boxes plugged in later, on the ports named or on any.
    void Watch(std::vector<std::string>& asked, const Package& package, const HistoryFile& history);
    void StartSlot(const std::string& port, const Package& package, const HistoryFile& history);
    using Slots = std::map<std::string, std::unique_ptr<PortSlot>>;
    // The slot's run has ended: its outcomes are kept, and the port is free for another run.
    Slots::iterator EndSlot(Slots::iterator slot);
    // A box whose port the system does not tell cannot be kept apart from others (its run sees
    // every box, as the window does), so it is started only when it is alone on the bus and no
    // watch may bring others; otherwise it is left alone: said once, a failed box.
    void LeaveUntoldPortAlone();
    void RunSlot(PortSlot& slot, const Package& package, const HistoryFile& history);
    HistoryRecord RecordOf(const BoxOutcome& box, const std::string& port,
                           const Package& package) const;
    // Appends the record; a record that cannot be written stops new boxes from being started.
    void Keep(const HistoryFile& history, const HistoryRecord& record);
    // The port's last record, when an earlier run left its box unfinished there.
    std::optional<HistoryRecord> UnfinishedElsewhere(const HistoryFile& history,
                                                     const std::string& port);
    // Who the box in its bootloader or programmer mode is: the box the record left there, sent to
    // its bootloader, or the model --as names; nullopt when nothing tells.
    std::optional<ResumeFrom> KnownBox(const Package& package,
                                       const std::optional<HistoryRecord>& left) const;
    // The box's record takes up the earlier record on its port when it is that record's box:
    // the earlier record as it is to be closed.
    static std::optional<HistoryRecord> TakeUp(const PortSlot& slot, BoxOutcome& box);
    // The serial of the box whose unfinished record on the port wrote its ARM firmware and not
    // yet its FPGA ("" for none): met in normal mode, it gets its FPGA all the same.
    static std::string FpgaOwedTo(const std::optional<HistoryRecord>& left);
    // A box on the port is left alone without a run: said once, a result and a summary row.
    void LeaveAlone(const std::string& port, BoxResult result, const std::string& why);
    // Whether the box a look finds on an ended run's port is another one than the run's last.
    static bool AnotherBox(PortSlot& slot, const Events::Found& found);
    // The run of the slot ended in an exception: the box failed, the others go on.
    void EndInFault(PortSlot& slot, const std::string& what);
    // The ports of the boxes the command line names: those of --port (or every box present with
    // --all), and those of the boxes with a serial of --serial; a serial not found is said, and
    // counts as a port found empty.
    std::vector<std::string> AskedPorts(const std::vector<std::string>& there,
                                        const Package& package, const HistoryFile& history);
    // The serial of the box on the port ("" when none can be told): told in normal mode, and in
    // its bootloader or programmer mode only by the port's unfinished record.
    std::string SerialOn(const std::string& port, const Package& package,
                         const HistoryFile& history);
    // Whether the box on the port is one whose serial --serial names. A box is read once per
    // plug-in: one that is not named is not talked to again until its port is empty.
    bool NamedBySerial(const std::string& port, const Package& package, const HistoryFile& history);
    // Waits for every run under way to end.
    void JoinRuns();
    // Every box's outcome so far: the runs' (joined first) and the boxes left alone.
    std::vector<std::pair<std::string, BoxOutcome>> Outcomes() const;
    int Finish(const std::vector<std::string>& asked, const Package& package);
    // The run's table (or its summary event): every box it met, with its result and why.
    void Summarize(const std::vector<std::pair<std::string, BoxOutcome>>& outcomes,
                   const Package& package);

    BenchSeams seams_;
    Options options_;
    std::unique_ptr<BoxPlatform> lookPlatform_;
    const std::atomic<bool>& stopping_;
    std::mutex outputLock_;
    ProgressBoard board_;
    // What each run under way is doing, by port (under outputLock_).
    std::map<std::string, BoxState> states_;
    // The runs of boxes that must be alone on the bench (DFUAPP, or ports dfu-util cannot be
    // told) take turns in the order they were started: the bench is upgraded in port order, never
    // in the order threads happen to wake.
    std::mutex turnsLock_;
    std::condition_variable nextTurn_;
    std::uint64_t turnsIssued_ = 0;
    std::uint64_t serving_ = 0;
    Slots slots_;
    // This run's id, and the boxes it found, for the ids of their records.
    std::string runId_;
    // The SHA-256 of every image of the package, by its name, read once at the run's start
    // (read-only once the boxes' runs start).
    std::map<std::string, ImageDigest> imageDigests_;
    // When the run began, by its clock; a list's or check's found boxes and an upgrade's rows,
    // for the summary (under outputLock_).
    std::int64_t startMs_ = 0;
    std::vector<Events::Found> found_;
    std::vector<SummaryBox> summaryRows_;
    std::atomic<std::uint64_t> boxesFound_{0};
    // The boxes' runs start the package's driver installer one at a time.
    std::shared_ptr<ToolGate> installerGate_ = std::make_shared<ToolGate>();
    // One box at a time is the FPGA programmer, from its programmer firmware's download to the
    // end of its FPGA run and its programmer's leaving the bus; the ARM downloads go side by side.
    std::shared_ptr<ProgrammerTurn> programmerTurn_ =
        std::make_shared<ProgrammerTurn>([this] { return ProgrammersOnBus(); });
    // The backends of the turn's looks at the bus (made at the first, used under the turn's lock).
    std::unique_ptr<BoxPlatform> programmerLook_;
    // A record could not be written: no further box is started.
    std::atomic<bool> historyBroken_{false};
    // The last record kept of each box under way, by port, to note where it was when the process
    // must end; under keepLock_, which also keeps the history's lines in the order of the roads.
    std::mutex keepLock_;
    std::map<std::string, HistoryRecord> underway_;
    // The bounds the boxes met so far have run up, by serial: a box re-plugged under --watch
    // gets a run of its own that keeps them.
    std::mutex boundsLock_;
    std::map<std::string, BoxLedger::Bounds> bounds_;
    // Ports whose box was left alone without a run (said once until the port is empty).
    std::set<std::string> leftAlonePorts_;
    // Ports another zelk-cli held when this one would have started there (said once each).
    std::set<std::string> portsHeldElsewhere_;
    bool claimsUnavailableSaid_ = false;
    bool untoldPortSaid_ = false;
    // Ports named without --watch that had no box: the exit code says so, unless a box failed.
    std::vector<std::string> emptyPorts_;
    // Serials named without --watch that no box present had: as a port found empty.
    std::vector<std::string> missingSerials_;
    // Ports whose box has no serial --serial names, until the port is empty.
    std::set<std::string> strangers_;
    // The outcomes of runs whose box has since been unplugged (a watch starts a new run when it
    // comes back).
    std::vector<std::pair<std::string, BoxOutcome>> ended_;
};

}  // namespace ZELKUtil::Cli
