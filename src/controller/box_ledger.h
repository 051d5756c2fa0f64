#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// What a download into the box came to.
enum class DownloadOutcome {
    Done,        // the tool sent the whole image
    CutShort,    // the box left the bus in the middle of it
    Failed,      // the tool ran to its end without sending the whole image
    NoDevice,    // the tool found no device to open, pass after pass
    NotStarted,  // the tool could not be started, or its output not followed
};
const char* OutcomeName(DownloadOutcome outcome);

// The marks of one stay of a box in its bootloader; they start afresh with each visit.
struct VisitMarks {
    // "Boot" alone sent the box here: the visit downloads nothing by itself.
    bool bootAlone = false;
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
    std::string why;
};

// One box this run has met, known by its USB port in every mode. A box recognised in normal mode
// carries the profile it named; a box met only in its bootloader or as the programmer carries
// none and gets nothing by itself (the operator's own ticks still run for it).
struct BoxRecord {
    std::string port;
    std::optional<ZelkProfile> profile;
    RoadStage stage = RoadStage::Recognised;
    // Automatic downloads since it was recognised: a box that keeps coming back without the
    // package's version is not flashed again and again.
    std::int32_t autoDownloads = 0;
    // Downloads in a row that it left in the middle: not the package's fault, bounded apart.
    std::int32_t interruptedInRow = 0;
    // The FPGA job's programmer firmware downloads and erases.
    std::int32_t programmerTries = 0;
    std::int32_t fpgaErases = 0;
    // The last poll that looked found it in its bootloader.
    bool inVisit = false;
    // The last bootloader request was "Boot" alone: the mark of the visit it begins.
    bool bootAloneRequested = false;
    VisitMarks visit;
};

// The work a decision is about.
enum class Work { Nothing, ArmDownload, ProgrammerFirmware, FpgaProgramming };
const char* WorkName(Work work);

// What the controller knows of a box in its bootloader or programmer mode when it asks.
struct Situation {
    std::string port;
    bool programmerMode = false;  // else its bootloader
    // In its bootloader with the driver its download tool needs.
    bool driverReady = false;
    bool armTicked = false;
    bool fpgaTicked = false;
    // The ticks were made by the road (a countdown or a resume), not by the operator.
    bool automaticTicks = false;
    bool automaticMode = false;
    // The package can start a road by itself: it names images and has a version to reach.
    bool packageHasImages = false;
    bool packageHasVersion = false;
    // The box whose road an automatic run takes is the FPGA's (a package without ARM images).
    bool fpgaRoad = false;
    int boxesOnBus = 1;
};

// Run or hold, and why. The reason is for traces, never for the operator's log.
struct Decision {
    std::string port;
    bool run = false;
    Work work = Work::Nothing;
    // Tick what the countdown would have ticked: the box resumes its road.
    bool tickAutomatically = false;
    // A line for the operator that goes with a hold, said once.
    enum class Tell { Nothing, SeveralBoxes, KeepsLeaving, PackageError };
    Tell tell = Tell::Nothing;
    // The line belongs to the start of the visit (said before the poll's status line), not to
    // the run the poll would start.
    bool visitLine = false;
    std::string reason;
};

// The boxes this run knows, a record each, and the one place that decides whether a box in its
// bootloader or programmer mode is written into. The runs report what happened; the ledger keeps
// the bounds and the marks of each box's visits.
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

    const BoxRecord* Find(const std::string& port) const;
    // The box on the port is one this run recognised and sent on its road (to its bootloader, or
    // downloaded into), and it has not come back in normal mode since.
    bool OnItsRoad(const std::string& port) const;
    const std::vector<BoxRecord>& Records() const { return records_; }

    // The box on the port answered in normal mode and named the profile. A box back from its
    // road (sent to its bootloader or downloaded into) goes on with its record, so that its bounds
    // hold; any other box is recognised afresh.
    const BoxRecord& Recognise(const std::string& port, const ZelkProfile& profile);
    // The box on the port named no profile of the package, or shows the package's version.
    void Forget(const std::string& port);
    void CountdownStarted(const std::string& port);
    // The box that answered on the port no longer does. One that was never sent to its bootloader
    // was not restarted: it comes back in normal mode, and a bootloader found there is another box.
    void LeftNormalMode(const std::string& port);
    // The bootloader request was sent to the box on the port; `bootAlone`: by "Boot" with nothing
    // ticked.
    void BootloaderRequestSent(const std::string& port, bool bootAlone);
    // Where this poll found a bootloader (none: nowhere). Ends the visits of boxes found elsewhere
    // and begins one where a box has just come; true when it did.
    bool NoteBootloader(const std::optional<std::string>& port);
    // The FPGA programmer was reached: its firmware downloads are over for this FPGA job.
    void NoteProgrammer(const std::string& port);
    // No box at all on the bus: a box told that it keeps leaving has been taken off as told, and
    // gets one more try when it comes back.
    void NoteNoBox();

    // Run or hold for the box in the situation; notes the lines it tells so that each is said
    // once.
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

    // Why a countdown may not start for the box recognised on the port (its bounds are used up),
    // with the line the operator is told; none when it may.
    std::optional<Decision> RefuseCountdown(const std::string& port);

    // The operator's "Boot": the bounds that stopped a failing upgrade count afresh.
    void StartOver();
    // A new FPGA job: its programmer downloads and erases count afresh.
    void NewFpgaJob();

    // Who made the ticks of the check boxes. Ticks made since the last poll are the operator's; the
    // countdown's and a resume's are automatic, for the box they were made for only.
    struct Ticks {
        bool automatic = false;
        // The check boxes as the last poll left them, so that a poll sees the operator's new ticks.
        bool seenArm = false;
        bool seenFpga = false;
    };
    Ticks ticks;

  private:
    BoxRecord* Lookup(const std::string& port);
    // The record of the box on the port; a stranger's when this run has not recognised it.
    BoxRecord& RecordFor(const std::string& port);
    // The start of a visit: a box back on its road resumes it, within its bounds.
    void Resume(BoxRecord& record, const Situation& situation, Decision& decision);
    void DecideTicked(BoxRecord& record, const Situation& situation, Decision& decision);
    static Decision Hold(Decision decision, std::string reason,
                         Decision::Tell tell = Decision::Tell::Nothing);

    std::vector<BoxRecord> records_;
    // The operator has been told that more than one box is connected, and not yet that one is.
    bool severalBoxesSaid_ = false;
};

}  // namespace ZELKUtil
