// The box is known by its USB port. A firmware tool never writes into a box it has not recognised
// and never chooses between two boxes by chance: an automatic download goes only into the box this
// run recognised in normal mode and sent to its bootloader, on its port, with the profile it named
// then; no download or FPGA run starts while more than one box is on the bus; and the repeated
// steps of an upgrade are bounded per box, however often it comes and goes.
#include "controller/box_ledger.h"

#include <algorithm>
#include <utility>

namespace ZELKUtil {

const char* StageName(RoadStage stage) {
    switch (stage) {
        case RoadStage::Recognised:
            return "recognised";
        case RoadStage::CountingDown:
            return "counting down";
        case RoadStage::SentToBootloader:
            return "sent to its bootloader";
        case RoadStage::Working:
            return "worked on";
        case RoadStage::Back:
            return "back from its download";
        case RoadStage::GivenUp:
            return "given up";
    }
    return "?";
}

const char* OutcomeName(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::Done:
            return "done";
        case DownloadOutcome::CutShort:
            return "cut short";
        case DownloadOutcome::Failed:
            return "failed";
        case DownloadOutcome::NoDevice:
            return "no device";
        case DownloadOutcome::NotStarted:
            return "not started";
    }
    return "?";
}

const char* WorkName(Work work) {
    switch (work) {
        case Work::Nothing:
            return "nothing";
        case Work::ArmDownload:
            return "ARM download";
        case Work::ProgrammerFirmware:
            return "programmer firmware";
        case Work::FpgaProgramming:
            return "FPGA programming";
    }
    return "?";
}

const BoxRecord* BoxLedger::Find(const std::string& port) const {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [&port](const BoxRecord& r) { return r.port == port; });
    return found == records_.end() ? nullptr : &*found;
}

BoxRecord* BoxLedger::Lookup(const std::string& port) {
    return const_cast<BoxRecord*>(std::as_const(*this).Find(port));
}

BoxRecord& BoxLedger::RecordFor(const std::string& port) {
    if (BoxRecord* record = Lookup(port)) {
        return *record;
    }
    BoxRecord& stranger = records_.emplace_back();
    stranger.port = port;
    return stranger;
}

bool BoxLedger::OnItsRoad(const std::string& port) const {
    const BoxRecord* record = Find(port);
    return record != nullptr && record->profile &&
           (record->stage == RoadStage::SentToBootloader || record->stage == RoadStage::Working ||
            record->stage == RoadStage::Back || record->stage == RoadStage::GivenUp);
}

const BoxRecord& BoxLedger::Recognise(const std::string& port, const ZelkProfile& profile) {
    if (BoxRecord* record = Lookup(port)) {
        if (OnItsRoad(port)) {
            // Back from its road, with the version its download gave it (or none): its bounds go
            // on, or a package that cannot bring it to its version would flash it for ever.
            record->profile = profile;
            record->stage = RoadStage::Recognised;
            record->inVisit = false;
            return *record;
        }
        Forget(port);
    }
    BoxRecord& fresh = records_.emplace_back();
    fresh.port = port;
    fresh.profile = profile;
    return fresh;
}

void BoxLedger::Forget(const std::string& port) {
    std::erase_if(records_, [&port](const BoxRecord& r) { return r.port == port; });
}

void BoxLedger::CountdownStarted(const std::string& port) {
    if (BoxRecord* record = Lookup(port)) {
        record->stage = RoadStage::CountingDown;
    }
}

void BoxLedger::LeftNormalMode(const std::string& port) {
    const BoxRecord* record = Find(port);
    if (record != nullptr &&
        (record->stage == RoadStage::Recognised || record->stage == RoadStage::CountingDown)) {
        Forget(port);
    }
}

void BoxLedger::BootloaderRequestSent(const std::string& port, bool bootAlone) {
    BoxRecord& record = RecordFor(port);
    record.stage = RoadStage::SentToBootloader;
    record.bootAloneRequested = bootAlone;
}

bool BoxLedger::NoteBootloader(const std::optional<std::string>& port) {
    for (BoxRecord& record : records_) {
        if (record.inVisit && (!port || record.port != *port)) {
            record.inVisit = false;
        }
    }
    if (!port) {
        return false;
    }
    BoxRecord& record = RecordFor(*port);
    if (record.inVisit) {
        return false;
    }
    record.inVisit = true;
    record.visit = VisitMarks{};
    record.visit.bootAlone = std::exchange(record.bootAloneRequested, false);
    return true;
}

void BoxLedger::NoteProgrammer(const std::string& port) {
    RecordFor(port).programmerTries = 0;
}

void BoxLedger::NoteNoBox() {
    for (BoxRecord& record : records_) {
        if (record.visit.keepsLeavingTold) {
            // Re-plugged as the line asked: one more try, and the line again if it leaves again.
            record.visit.keepsLeavingTold = false;
            record.interruptedInRow = kMaxInterruptedDownloads - 1;
            record.stage = RoadStage::SentToBootloader;
        }
    }
}

Decision BoxLedger::Hold(Decision decision, std::string reason, Decision::Tell tell) {
    decision.run = false;
    decision.reason = std::move(reason);
    decision.tell = tell;
    return decision;
}

Decision BoxLedger::Decide(const Situation& situation) {
    Decision decision;
    decision.port = situation.port;
    BoxRecord& record = RecordFor(situation.port);
    Situation s = situation;
    if (!s.programmerMode && !std::exchange(record.visit.decided, true) && !s.armTicked &&
        !s.fpgaTicked) {
        Resume(record, s, decision);
        if (!decision.tickAutomatically) {
            decision.visitLine = true;
            record.visit.why = decision.reason;
            return decision;
        }
        (s.fpgaRoad ? s.fpgaTicked : s.armTicked) = true;
        s.automaticTicks = true;
    }
    if (!s.programmerMode && !s.driverReady) {
        return Hold(decision, "its bootloader's driver is not the one the download tool needs");
    }
    if (!s.armTicked && !s.fpgaTicked) {
        if (!s.automaticMode) {
            return Hold(decision, "the package waits for the operator's ticks");
        }
        if (s.programmerMode) {
            return Hold(decision, "nothing is ticked for the programmer");
        }
        return Hold(decision, record.visit.why.empty() ? "nothing is ticked" : record.visit.why);
    }
    DecideTicked(record, s, decision);
    return decision;
}

void BoxLedger::Resume(BoxRecord& record, const Situation& s, Decision& decision) {
    using Tell = Decision::Tell;
    if (!s.automaticMode) {
        decision = Hold(decision, "the package waits for the operator's ticks");
    } else if (!record.profile) {
        decision = Hold(decision, "not recognised on this port in normal mode");
    } else if (record.visit.bootAlone) {
        decision = Hold(decision, "\"Boot\" alone began this visit");
    } else if (!s.packageHasImages) {
        decision = Hold(decision, "the package holds no image");
    } else if (!s.packageHasVersion) {
        decision = Hold(decision, "the package has no version to reach");
    } else if (record.interruptedInRow >= kMaxInterruptedDownloads) {
        const bool told = std::exchange(record.visit.keepsLeavingTold, true);
        record.stage = RoadStage::GivenUp;
        decision = Hold(decision,
                        "it left its last " + std::to_string(record.interruptedInRow) +
                            " downloads in the middle",
                        told ? Tell::Nothing : Tell::KeepsLeaving);
    } else if (record.autoDownloads >= kMaxAutoDownloads) {
        record.stage = RoadStage::GivenUp;
        decision = Hold(decision, "its automatic downloads are used up", Tell::PackageError);
    } else {
        decision.tickAutomatically = true;
        decision.reason = "back in its bootloader on its road";
    }
}

void BoxLedger::DecideTicked(BoxRecord& record, const Situation& s, Decision& decision) {
    if (const bool say = SaySeveralBoxes(s.boxesOnBus); s.boxesOnBus > 1) {
        decision = Hold(decision, std::to_string(s.boxesOnBus) + " boxes on the bus",
                        say ? Decision::Tell::SeveralBoxes : Decision::Tell::Nothing);
        return;
    }
    if (s.automaticTicks && !record.profile) {
        // What the road ticked is for the box on the road, and nothing else.
        decision = Hold(decision, "not recognised on this port in normal mode");
        return;
    }
    if (s.programmerMode) {
        if (!s.fpgaTicked) {
            decision = Hold(decision, "nothing is ticked for the programmer");
            return;
        }
        decision.work = Work::FpgaProgramming;
    } else if (s.fpgaTicked) {
        // The FPGA comes first; its programmer firmware replaces the ARM download of this poll.
        decision.work = Work::ProgrammerFirmware;
        if (record.programmerTries >= kMaxProgrammerTries) {
            // The tool's end says nothing of its success; a box still in its bootloader after
            // three tries shows that the package cannot make the programmer.
            decision = Hold(decision, "its programmer firmware downloads are used up",
                            Decision::Tell::PackageError);
            return;
        }
    } else {
        decision.work = Work::ArmDownload;
    }
    decision.run = true;
    if (decision.reason.empty()) {
        decision.reason = s.automaticTicks ? "its road's ticks" : "the operator's ticks";
    }
}

bool BoxLedger::BoxWaitsForWork() const {
    return std::any_of(records_.begin(), records_.end(), [](const BoxRecord& r) {
        return r.profile && r.stage == RoadStage::SentToBootloader;
    });
}

bool BoxLedger::SaySeveralBoxes(int boxesOnBus) {
    if (boxesOnBus <= 1) {
        severalBoxesSaid_ = false;
        return false;
    }
    return !std::exchange(severalBoxesSaid_, true);
}

std::optional<Decision> BoxLedger::RefuseCountdown(const std::string& port) {
    BoxRecord& record = RecordFor(port);
    Decision decision;
    decision.port = port;
    if (record.autoDownloads >= kMaxAutoDownloads) {
        // It came back from its downloads still without the package's version: flashing it
        // again would change nothing but wear its flash.
        record.stage = RoadStage::GivenUp;
        return Hold(decision, "its automatic downloads are used up", Decision::Tell::PackageError);
    }
    if (record.interruptedInRow >= kMaxInterruptedDownloads) {
        const bool told = std::exchange(record.visit.keepsLeavingTold, true);
        record.stage = RoadStage::GivenUp;
        return Hold(decision, "it left its last downloads in the middle",
                    told ? Decision::Tell::Nothing : Decision::Tell::KeepsLeaving);
    }
    return std::nullopt;
}

void BoxLedger::DownloadEnded(const std::string& port, DownloadOutcome outcome,
                              bool automaticMode) {
    BoxRecord& record = RecordFor(port);
    switch (outcome) {
        case DownloadOutcome::CutShort:
            // Not the package's fault: counted in a row of its own. The box that comes back in
            // its bootloader is a new visit, whichever poll sees it first: it gets the download
            // again (or the line that says why not), never silence.
            ++record.interruptedInRow;
            record.inVisit = false;
            record.stage = RoadStage::SentToBootloader;
            return;
        case DownloadOutcome::NotStarted:
            return;
        case DownloadOutcome::Done:
            record.interruptedInRow = 0;
            break;
        case DownloadOutcome::Failed:
        case DownloadOutcome::NoDevice:
            break;
    }
    if (automaticMode) {
        ++record.autoDownloads;
    }
    record.stage = RoadStage::Back;
    record.visit.why = "its download in this bootloader visit has been made";
}

void BoxLedger::ProgrammerFirmwareSent(const std::string& port, bool automaticMode) {
    BoxRecord& record = RecordFor(port);
    ++record.programmerTries;
    if (automaticMode) {
        ++record.autoDownloads;
    }
    record.stage = RoadStage::Working;
}

void BoxLedger::EraseStarted(const std::string& port) {
    ++RecordFor(port).fpgaErases;
}

bool BoxLedger::MayErase(const std::string& port) const {
    const BoxRecord* record = Find(port);
    return record == nullptr || record->fpgaErases < kMaxErases;
}

bool BoxLedger::GiveUpInstaller(const std::string& port) {
    return !std::exchange(RecordFor(port).visit.installerGaveUp, true);
}

bool BoxLedger::InstallerMayRunAgain(const std::string& port) {
    // The driver may bind only once the bootloader comes back after the first run; a run that
    // changed nothing twice would change nothing ever.
    constexpr int kRunsPerVisit = 2;
    return ++RecordFor(port).visit.installerRuns <= kRunsPerVisit;
}

bool BoxLedger::InstallerMayRun(const std::string& port) const {
    const BoxRecord* record = Find(port);
    return record == nullptr || !record->visit.installerGaveUp;
}

bool BoxLedger::TellRestart(const std::string& port) {
    return !std::exchange(RecordFor(port).visit.restartTold, true);
}

void BoxLedger::StartOver() {
    for (BoxRecord& record : records_) {
        record.autoDownloads = 0;
        record.interruptedInRow = 0;
        record.inVisit = false;
        if (record.stage == RoadStage::GivenUp) {
            record.stage = RoadStage::SentToBootloader;
        }
    }
    NewFpgaJob();
}

void BoxLedger::NewFpgaJob() {
    for (BoxRecord& record : records_) {
        record.programmerTries = 0;
        record.fpgaErases = 0;
    }
}

}  // namespace ZELKUtil
