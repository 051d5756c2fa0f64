// The box is known by its USB port, and in normal mode by its serial. A firmware tool never writes
// into a box it has not recognised and never chooses between two boxes by chance: an automatic
// download goes only into the box this run recognised in normal mode and sent to its bootloader,
// on its port, with the profile it named then; no download or FPGA run starts while more than one
// box is on the bus; and the repeated steps of an upgrade are bounded per box, however often it
// comes and goes. This file keeps the records: arrivals, leaves, what the runs came to, and the
// ends of roads. The decisions are in box_ledger_decisions.cpp.
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

bool BoxLedger::SameBox(const BoxRecord& record, const std::string& serial,
                        const std::string& version) {
    if (!record.serial.empty() && !serial.empty()) {
        return record.serial == serial;
    }
    // Without serials: a box nothing was written into keeps its version; one that was written
    // into may have any, and is taken by its port.
    return record.written || record.version == version;
}

bool BoxLedger::Arrive(const std::string& port, const ZelkProfile* profile,
                       const std::string& serial, const std::string& version) {
    if (BoxRecord* record = Lookup(port)) {
        if (record->profile && SameBox(*record, serial, version)) {
            const bool back = OnItsRoad(port);
            record->backFromDownload = back && record->stage == RoadStage::Back;
            if (profile != nullptr) {
                record->profile = *profile;
            }
            if (record->serial.empty()) {
                record->serial = serial;
            }
            record->version = version;
            record->stage = RoadStage::Recognised;
            record->inNormalMode = true;
            record->leftBeforeRequest = false;
            record->sentAlone = false;
            record->inVisit = false;
            record->holdTold.reset();
            // Its bounds go on: a package that cannot bring it to its version, or a cable that
            // keeps dropping it, would otherwise flash it for ever, however often it is re-plugged.
            return back;
        }
        Retire(*record);
    }
    const Bounds bounds = KnownBounds(serial);
    BoxRecord& fresh = records_.emplace_back();
    fresh.port = port;
    if (profile != nullptr) {
        fresh.profile = *profile;
    }
    fresh.serial = serial;
    fresh.version = version;
    fresh.inNormalMode = true;
    fresh.autoDownloads = bounds.autoDownloads;
    fresh.interruptedInRow = bounds.interruptedInRow;
    return false;
}

void BoxLedger::Retire(BoxRecord& record) {
    // Its road ends, and its bounds are kept by its serial for the day it comes back.
    if (record.profile && !record.end) {
        End(record, RoadEnd::Interrupted, Reason::AnotherBox);
    }
    if (!record.serial.empty()) {
        const std::string serial = record.serial;
        std::erase_if(boundsBySerial_, [&serial](const auto& b) { return b.first == serial; });
        boundsBySerial_.emplace_back(serial, Bounds{record.autoDownloads, record.interruptedInRow});
    }
    const std::string port = record.port;
    std::erase_if(records_, [&port](const BoxRecord& r) { return r.port == port; });
}

BoxLedger::Bounds BoxLedger::KnownBounds(const std::string& serial) const {
    // A box met before, on this port or another, brings its bounds with it.
    Bounds bounds;
    if (serial.empty()) {
        return bounds;
    }
    for (const auto& [known, kept] : boundsBySerial_) {
        if (known == serial) {
            bounds = kept;
        }
    }
    for (const BoxRecord& other : records_) {
        if (other.serial == serial) {
            bounds.autoDownloads = std::max(bounds.autoDownloads, other.autoDownloads);
            bounds.interruptedInRow = std::max(bounds.interruptedInRow, other.interruptedInRow);
        }
    }
    return bounds;
}

void BoxLedger::Adopt(const std::string& port, const ZelkProfile& profile,
                      const std::string& serial, const std::string& version) {
    if (BoxRecord* known = Lookup(port)) {
        Retire(*known);
    }
    const Bounds bounds = KnownBounds(serial);
    BoxRecord& record = records_.emplace_back();
    record.port = port;
    record.profile = profile;
    record.serial = serial;
    record.version = version;
    // As if this run had sent it: its next visit resumes its road, within its bounds.
    record.stage = RoadStage::SentToBootloader;
    record.autoDownloads = bounds.autoDownloads;
    record.interruptedInRow = bounds.interruptedInRow;
}

std::vector<std::pair<std::string, BoxLedger::Bounds>> BoxLedger::AllBounds() const {
    std::vector<std::pair<std::string, Bounds>> all;
    const auto add = [this, &all](const std::string& serial) {
        if (!serial.empty() && std::none_of(all.begin(), all.end(), [&serial](const auto& b) {
                return b.first == serial;
            })) {
            all.emplace_back(serial, KnownBounds(serial));
        }
    };
    for (const auto& [serial, kept] : boundsBySerial_) {
        add(serial);
    }
    for (const BoxRecord& record : records_) {
        add(record.serial);
    }
    return all;
}

void BoxLedger::KeepBounds(const std::string& serial, Bounds bounds) {
    if (serial.empty()) {
        return;
    }
    std::erase_if(boundsBySerial_, [&serial](const auto& b) { return b.first == serial; });
    boundsBySerial_.emplace_back(serial, bounds);
}

void BoxLedger::LeftNormalMode(const std::string& port) {
    BoxRecord* record = Lookup(port);
    if (record != nullptr && std::exchange(record->inNormalMode, false)) {
        // Never restarted by this run: it comes back in normal mode, and a bootloader found on
        // its port meanwhile may be another box.
        record->leftBeforeRequest = true;
    }
}

void BoxLedger::BootloaderRequestSent(const std::string& port, bool bootAlone) {
    BoxRecord& record = RecordFor(port);
    record.stage = RoadStage::SentToBootloader;
    record.inNormalMode = false;
    record.leftBeforeRequest = false;
    record.backFromDownload = false;
    record.sentAlone = bootAlone;
    record.end.reset();
    record.endPending = false;
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
    record.holdTold.reset();
    return true;
}

void BoxLedger::NoteProgrammer(const std::string& port) {
    RecordFor(port).programmerTries = 0;
}

void BoxLedger::NoteNoBox() {
    for (BoxRecord& record : records_) {
        LeftNormalMode(record.port);
        if (record.visit.keepsLeavingTold) {
            // Re-plugged as the line asked: one more try, and the line again if it leaves again.
            record.visit.keepsLeavingTold = false;
            record.interruptedInRow = kMaxInterruptedDownloads - 1;
            record.stage = RoadStage::SentToBootloader;
        }
    }
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
            record.written = true;
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
    record.written = true;
    record.stage = RoadStage::Back;
    record.visit.why = Reason::DownloadMade;
    if (outcome == DownloadOutcome::NoDevice) {
        End(record, RoadEnd::Failed, Reason::NoDevice);
    }
}

void BoxLedger::ProgrammerFirmwareSent(const std::string& port, bool automaticMode) {
    BoxRecord& record = RecordFor(port);
    ++record.programmerTries;
    if (automaticMode) {
        ++record.autoDownloads;
    }
    record.written = true;
    record.stage = RoadStage::Working;
}

void BoxLedger::EraseStarted(const std::string& port) {
    ++RecordFor(port).fpgaErases;
}

void BoxLedger::FpgaProgrammed(const std::string& port) {
    BoxRecord& record = RecordFor(port);
    record.written = true;
    record.fpgaDone = true;
    record.endPending = true;
}

void BoxLedger::Returned(const std::string& port, const std::string& version) {
    BoxRecord& record = RecordFor(port);
    record.version = version;
    record.armDone = true;
    record.endPending = true;
    sink_.Tell(RoadEvents::Returned{port, version});
}

void BoxLedger::Failed(const std::string& port, Reason reason) {
    End(RecordFor(port), RoadEnd::Failed, reason);
}

void BoxLedger::Settle(bool anythingTicked) {
    for (BoxRecord& record : records_) {
        if (!std::exchange(record.endPending, false) || anythingTicked) {
            continue;
        }
        End(record, RoadEnd::Completed);
    }
}

void BoxLedger::End(BoxRecord& record, RoadEnd end, Reason reason, int count) {
    if (record.end == end) {
        return;
    }
    record.end = end;
    record.endPending = false;
    RoadEvents::Ended ended;
    ended.port = record.port;
    ended.end = end;
    ended.reason = reason;
    ended.count = count;
    // A box that left, or that may be another, is not known to have any version now.
    if (end != RoadEnd::Interrupted && end != RoadEnd::LeftAlone) {
        ended.version = record.version;
    }
    ended.arm = record.armDone;
    ended.fpga = record.fpgaDone;
    sink_.Tell(ended);
}

bool BoxLedger::AutomaticTicksOutlived() const {
    if (!ticks.automaticFor) {
        return false;
    }
    const BoxRecord* record = Find(*ticks.automaticFor);
    return record == nullptr || record->end.has_value();
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

bool BoxLedger::MayErase(const std::string& port) const {
    const BoxRecord* record = Find(port);
    return record == nullptr || record->fpgaErases < kMaxErases;
}

void BoxLedger::StartOver() {
    boundsBySerial_.clear();
    for (BoxRecord& record : records_) {
        record.autoDownloads = 0;
        record.interruptedInRow = 0;
        if (record.inVisit) {
            // The box waits in its bootloader: "Boot" alone sends it nothing; the next download
            // needs a tick.
            record.inVisit = false;
            record.sentAlone = true;
        }
        if (record.stage == RoadStage::GivenUp) {
            // Given up in its bootloader, it is still on its road; given up in normal mode, it
            // was never sent there.
            const bool sent = !record.inNormalMode && !record.leftBeforeRequest;
            record.stage = sent ? RoadStage::SentToBootloader : RoadStage::Recognised;
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
