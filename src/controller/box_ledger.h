#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "controller/road_events.h"
#include "package/zelk_profile.h"

namespace ZELKUtil {

// Where a box this run knows is on its road.
enum class RoadStage {
    Recognised,        // answered in normal mode and named a profile of the package
    CountingDown,      // its automatic countdown runs
    SentToBootloader,  // the bootloader request was sent for it, or its download was cut short
    Working,           // a download or an FPGA run into it has been made in its bootloader visit
    Back,              // its ARM download ran to the end: it restarts into its normal mode
    GivenUp,           // a bound was reached: nothing more is done for it by itself
};
const char* StageName(RoadStage stage);

// The marks of one stay of a box in its bootloader or programmer mode; they start afresh with
// each visit.
struct VisitMarks {
    // The first decision of the visit has been made (a box back on its road resumes only then).
    bool decided = false;
    // The driver installer could not be started, or it ran and reported a failed installation:
    // it is not started again in this visit (the operator has been told to install by hand).
    bool installerGaveUp = false;
    // The installer's runs in this visit for a wrong driver.
    int installerRuns = 0;
    // The operator has been told that the installation needs a restart.
    bool restartTold = false;
    // The operator has been told that the box keeps leaving during its downloads.
    bool keepsLeavingTold = false;
    // Why the visit gets nothing by itself: the first decision's reason, or the download made.
    Reason why = Reason::None;
    int whyCount = 0;
};

// One box this run has met, known by its USB port in every mode and, in normal mode, by its
// serial. A box recognised in normal mode carries the profile it named; a box met only in its
// bootloader or as the programmer carries none and gets nothing by itself (the operator's own ticks
// still run for it).
struct BoxRecord {
    std::string port;
    std::optional<ZelkProfile> profile;
    // As the box told them in normal mode ("" for a box that tells no serial).
    std::string serial;
    std::string version;
    RoadStage stage = RoadStage::Recognised;
    // It answered in normal mode, and no bootloader request was sent to it since.
    bool inNormalMode = false;
    // It left the bus while still in normal mode, before its bootloader request: it was never
    // restarted, so a bootloader found on its port is no box of its road.
    bool leftBeforeRequest = false;
    // Something was written into it on this road (a download, the programmer, its FPGA).
    bool written = false;
    // It came back in normal mode from an ARM download that ran to its end.
    bool backFromDownload = false;
    // Its ARM firmware brought it to the package's version; its FPGA was programmed.
    bool armDone = false;
    bool fpgaDone = false;
    // Its work is done: the road ends at the next poll unless more is ticked for it.
    bool endPending = false;
    // How its road ended, once told; a later step of the same box's road opens it again.
    std::optional<RoadEnd> end;
    // Automatic downloads since it was recognised: a box that keeps coming back without the
    // package's version is not flashed again and again, however often it is re-plugged.
    std::int32_t autoDownloads = 0;
    // Downloads in a row that it left in the middle: not the package's fault, bounded apart.
    std::int32_t interruptedInRow = 0;
    // The FPGA job's programmer firmware downloads and erases.
    std::int32_t programmerTries = 0;
    std::int32_t fpgaErases = 0;
    // The last poll that looked found it in its bootloader.
    bool inVisit = false;
    // "Boot" alone sent it to its bootloader (or found it there): nothing is downloaded into it by
    // itself until something is ticked for it, in this visit or any later one.
    bool sentAlone = false;
    VisitMarks visit;
    // The hold told last for it: a hold is told when it begins or its reason changes, never again
    // at every poll. None after a run.
    std::optional<std::tuple<Moment, Reason, int>> holdTold;
};

// What the controller knows of a box in normal mode when it asks.
struct ConnectedSituation {
    std::string port;
    bool namesProfile = false;
    bool upToDate = false;
    bool automaticMode = false;
    // The package names images: it can program something.
    bool packageHasImages = false;
    bool anythingTicked = false;
    int boxesOnBus = 1;
};

// What the controller knows of a box in its bootloader or programmer mode when it asks.
struct Situation {
    std::string port;
    bool programmerMode = false;  // else its bootloader
    // In its bootloader with the driver its download tool needs.
    bool driverReady = false;
    bool armTicked = false;
    bool fpgaTicked = false;
    bool automaticMode = false;
    // The package can start a road by itself: it names images and has a version to reach.
    bool packageHasImages = false;
    bool packageHasVersion = false;
    // The box whose road an automatic run takes is the FPGA's (a package without ARM images).
    bool fpgaRoad = false;
    int boxesOnBus = 1;
};

// The boxes this run knows, a record each, and the one place that decides, at every moment of a
// box's road, what is done with it and why, and that ends its road. The poll tells it what it saw;
// the runs report what happened; the ledger keeps the bounds and the marks of each box's visits and
// tells its decisions and ends as road events.
class BoxLedger {
  public:
    // Automatic downloads after which a box that comes back without the package's version is
    // not counted down again: the first may have failed and the operator re-plugged, the second
    // shows that the package cannot bring the box to its version.
    static constexpr std::int32_t kMaxAutoDownloads = 2;
    // Downloads in a row that the box left mid-way, after which it is no longer downloaded into
    // by itself: only a box that keeps dropping off the bus gets there.
    static constexpr std::int32_t kMaxInterruptedDownloads = 5;
    // Programmer firmware downloads in one FPGA job before giving up.
    static constexpr std::int32_t kMaxProgrammerTries = 3;
    // Erases in one FPGA job: a design that an erase leaves is not erased again and again.
    static constexpr std::int32_t kMaxErases = 1;

    // Where the ledger tells its decisions and the ends of roads.
    void TellTo(RoadEventSink sink) { sink_ = std::move(sink); }

    const BoxRecord* Find(const std::string& port) const;
    // The box on the port is one this run recognised and sent on its road (to its bootloader, or
    // downloaded into), and it has not come back in normal mode since.
    bool OnItsRoad(const std::string& port) const;
    const std::vector<BoxRecord>& Records() const { return records_; }

    // A box answered in normal mode on the port with its serial and version, naming the profile
    // (null: none of the package). The record's box (the same serial; without serials, the same
    // version while nothing was written into it) goes on with its record and bounds, whenever it
    // left; another box ends the first box's road ("interrupted") and gets a record of its own.
    // True when it is the record's box back from its road.
    bool Arrive(const std::string& port, const ZelkProfile* profile, const std::string& serial,
                const std::string& version);
    // A box met in its bootloader or programmer mode on the port is known all the same (an
    // earlier run sent it there and recorded so, or the operator named it): its record is as if
    // this run had recognised it and sent it there.
    void Adopt(const std::string& port, const ZelkProfile& profile, const std::string& serial,
               const std::string& version);
    // Count down or hold, for the box that has just arrived (or is held) in normal mode.
    Decision DecideConnected(const ConnectedSituation& situation);
    // The decision held for the box in normal mode, when a later poll may change it (another box
    // left the bus).
    bool HeldForSeveralBoxes(const std::string& port) const;
    // The box in normal mode on the port no longer answers: it left, or restarts.
    void LeftNormalMode(const std::string& port);
    // The bootloader request was sent to the box on the port; `bootAlone`: by "Boot" with nothing
    // ticked.
    void BootloaderRequestSent(const std::string& port, bool bootAlone);
    // Where this poll found a bootloader (none: nowhere). Ends the visits of boxes found elsewhere
    // and begins one where a box has just come; true when it did.
    bool NoteBootloader(const std::optional<std::string>& port);
    // The FPGA programmer was reached: its firmware downloads are over for this FPGA job.
    void NoteProgrammer(const std::string& port);
    // No box at all on the bus: every box has left; a box told that it keeps leaving has been
    // taken off as told, and gets one more try when it comes back.
    void NoteNoBox();
    // The error state stops every poll: the box the poll last worked on holds for it.
    void HoldInErrorState(const std::string& port);

    // Run or hold for the box in its bootloader or programmer mode.
    Decision Decide(const Situation& situation);
    // A known box was sent to its bootloader and waits there for its download.
    bool BoxWaitsForWork() const;
    // Whether the line that more than one box is connected is to be said now: once while more
    // than one box is on the bus, again only after one box remained.
    bool SaySeveralBoxes(int boxesOnBus);

    // What the runs came to.
    void DownloadEnded(const std::string& port, DownloadOutcome outcome, bool automaticMode);
    void ProgrammerFirmwareSent(const std::string& port, bool automaticMode);
    void EraseStarted(const std::string& port);
    void FpgaProgrammed(const std::string& port);
    // The box came back in normal mode with the package's version after its ARM download.
    void Returned(const std::string& port, const std::string& version);
    // A run failed: the road of the box on the port ends so.
    void Failed(const std::string& port, Reason reason);
    // A poll begins: the roads whose work is done end now, unless the operator (or zelk-cli in
    // the operator's place) ticked more since.
    void Settle(bool anythingTicked);

    // The driver installer for the box on the port could not start, or reported failure; true
    // the first time in its visit (the failure is told then).
    bool GiveUpInstaller(const std::string& port);
    bool InstallerMayRun(const std::string& port) const;
    // Counts a run of the installer for the wrong driver the bootloader still has; false when the
    // visit has had its runs (each said it installed, and the driver stayed wrong).
    bool InstallerMayRunAgain(const std::string& port);
    // Whether the restart an installation needs is still to be told in this visit; notes it told.
    bool TellRestart(const std::string& port);
    // The erases the FPGA job of the box on the port may still make.
    bool MayErase(const std::string& port) const;

    // The operator's "Boot": the bounds that stopped a failing upgrade count afresh; a box in its
    // bootloader begins a visit of "Boot" alone, which downloads nothing by itself.
    void StartOver();
    // A new FPGA job: its programmer downloads and erases count afresh.
    void NewFpgaJob();

    // Who made the ticks of the check boxes. Ticks made since the last poll are the operator's; the
    // countdown's and a resume's are automatic, made for the box on one port only, and end with
    // its road.
    struct Ticks {
        std::optional<std::string> automaticFor;
        // The check boxes as the last poll left them, so that a poll sees the operator's new ticks.
        bool seenArm = false;
        bool seenFpga = false;
    };
    Ticks ticks;
    // The automatic ticks were made for a road that has ended, or for a box no longer known.
    bool AutomaticTicksOutlived() const;

    // A box's bounds, kept by its serial when another box takes its port.
    struct Bounds {
        std::int32_t autoDownloads = 0;
        std::int32_t interruptedInRow = 0;
    };
    // The bounds the box with the serial has run up, on any port.
    Bounds KnownBounds(const std::string& serial) const;
    // The bounds of every box with a serial that this ledger has met, and the bounds another
    // ledger met (a bench's earlier run on the port): a box keeps them wherever it comes back.
    std::vector<std::pair<std::string, Bounds>> AllBounds() const;
    void KeepBounds(const std::string& serial, Bounds bounds);

  private:
    BoxRecord* Lookup(const std::string& port);
    // The record of the box on the port; a stranger's when this run has not recognised it.
    BoxRecord& RecordFor(const std::string& port);
    // The start of a visit: a box back on its road resumes it, within its bounds.
    void Resume(BoxRecord& record, const Situation& situation, Decision& decision);
    void DecideTicked(BoxRecord& record, const Situation& situation, bool automaticTicks,
                      Decision& decision);
    // The holds of a box recognised in normal mode whose upgrade is due.
    void DecideDue(BoxRecord& record, const ConnectedSituation& situation, Decision& decision);
    static void Hold(Decision& decision, Reason reason,
                     Decision::Tell tell = Decision::Tell::Nothing, int count = 0);
    // The holds of the bounds, and of another box on the bus; false when they do not hold.
    bool HoldIfDownloadsUsedUp(BoxRecord& record, Decision& decision);
    bool HoldIfLeftTooOften(BoxRecord& record, Decision& decision);
    bool HoldIfSeveralBoxes(int boxesOnBus, Decision& decision);
    // Its box answered in normal mode and was not sent to its bootloader since: still there, or
    // seen leaving before the request.
    static bool NotSentThere(const BoxRecord& record) {
        return record.inNormalMode || record.leftBeforeRequest;
    }
    // Tells the decision: a run always, a hold when it begins or changes.
    void Tell(BoxRecord& record, const Decision& decision);
    // Ends the record's road with the reason, told once.
    void End(BoxRecord& record, RoadEnd end, Reason reason = Reason::None, int count = 0);
    // Another box took the record's port: the record goes.
    void Retire(BoxRecord& record);
    // Whether the box that answered is the record's box.
    static bool SameBox(const BoxRecord& record, const std::string& serial,
                        const std::string& version);

    std::vector<BoxRecord> records_;
    // The bounds of boxes whose records another box took over, by serial: a box put back on its
    // port after another keeps them.
    std::vector<std::pair<std::string, Bounds>> boundsBySerial_;
    RoadEventSink sink_;
    // The operator has been told that more than one box is connected, and not yet that one is.
    bool severalBoxesSaid_ = false;
};

}  // namespace ZELKUtil
