// The ledger's decisions: for a box in normal mode (count down, or hold and why) and for a box in
// its bootloader or programmer mode (run its work, or hold and why). Each is told as a road event:
// a run always, a hold when it begins or its reason changes. A hold that nothing but the operator
// can lift ends the box's road with its reason.
#include <utility>

#include "controller/box_ledger.h"

namespace ZELKUtil {
namespace {

using Tell = Decision::Tell;

// How a hold ends the road, when nothing but the operator (a re-plug, a tick, "Boot") can lift it.
std::optional<RoadEnd> EndOfHold(Reason reason) {
    switch (reason) {
        case Reason::WrongPackage:
        case Reason::NoImage:
        case Reason::NoVersion:
        case Reason::NotBroughtToVersion:
        case Reason::AutoDownloadsUsedUp:
        case Reason::ProgrammerFirmwareUsedUp:
            return RoadEnd::Failed;
        case Reason::KeepsLeaving:
            return RoadEnd::Interrupted;
        case Reason::NotRecognised:
        case Reason::LeftBeforeRequest:
        case Reason::RoadComplete:
            return RoadEnd::LeftAlone;
        default:
            return std::nullopt;
    }
}

}  // namespace

void BoxLedger::Hold(Decision& decision, Reason reason, Decision::Tell tell, int count) {
    decision.run = false;
    decision.work = Work::Nothing;
    decision.reason = reason;
    decision.count = count;
    decision.tell = tell;
}

void BoxLedger::Tell(BoxRecord& record, const Decision& decision) {
    if (decision.run) {
        // The road goes on: its end, if one was told, is behind it, and so is "Boot" alone.
        record.holdTold.reset();
        record.end.reset();
        record.sentAlone = false;
        sink_.Tell(RoadEvents::Decided{decision});
        return;
    }
    if (const auto hold = std::tuple{decision.moment, decision.reason, decision.count};
        record.holdTold != hold) {
        record.holdTold = hold;
        sink_.Tell(RoadEvents::Decided{decision});
    }
    if (const std::optional<RoadEnd> end = EndOfHold(decision.reason)) {
        End(record, *end, decision.reason, decision.count);
    }
}

Decision BoxLedger::DecideConnected(const ConnectedSituation& s) {
    Decision decision;
    decision.port = s.port;
    decision.moment = Moment::Connected;
    BoxRecord& record = RecordFor(s.port);
    if (!s.namesProfile) {
        Hold(decision, Reason::WrongPackage);
    } else if (s.upToDate) {
        Hold(decision, Reason::UpToDate);
        Tell(record, decision);
        // Back with the package's version from what was written into it: its road is complete
        // once nothing more is ticked for it.
        if (record.written) {
            record.endPending = true;
        } else {
            End(record, RoadEnd::UpToDate);
        }
        return decision;
    } else if (!s.packageHasImages) {
        Hold(decision, Reason::NoImage);
    } else if (!s.automaticMode) {
        if (s.anythingTicked) {
            decision.run = true;
            decision.reason = Reason::OperatorTicks;
        } else if (record.backFromDownload) {
            Hold(decision, Reason::NotBroughtToVersion);
        } else {
            Hold(decision, Reason::WaitsForOperator);
        }
    } else {
        DecideDue(record, s, decision);
    }
    Tell(record, decision);
    return decision;
}

void BoxLedger::DecideDue(BoxRecord& record, const ConnectedSituation& s, Decision& decision) {
    // Restarted into its bootloader beside another box, it would only wait there.
    if (HoldIfDownloadsUsedUp(record, decision) || HoldIfLeftTooOften(record, decision) ||
        HoldIfSeveralBoxes(s.boxesOnBus, decision)) {
        return;
    }
    decision.run = true;
    decision.reason = Reason::UpgradeDue;
    record.stage = RoadStage::CountingDown;
}

bool BoxLedger::HoldIfDownloadsUsedUp(BoxRecord& record, Decision& decision) {
    if (record.autoDownloads < kMaxAutoDownloads) {
        return false;
    }
    // It came back from its downloads still without the package's version: flashing it again
    // would change nothing but wear its flash.
    record.stage = RoadStage::GivenUp;
    Hold(decision, Reason::AutoDownloadsUsedUp, Tell::PackageError);
    return true;
}

bool BoxLedger::HoldIfLeftTooOften(BoxRecord& record, Decision& decision) {
    if (record.interruptedInRow < kMaxInterruptedDownloads) {
        return false;
    }
    const bool told = std::exchange(record.visit.keepsLeavingTold, true);
    record.stage = RoadStage::GivenUp;
    Hold(decision, Reason::KeepsLeaving, told ? Tell::Nothing : Tell::KeepsLeaving,
         record.interruptedInRow);
    return true;
}

bool BoxLedger::HoldIfSeveralBoxes(int boxesOnBus, Decision& decision) {
    const bool say = SaySeveralBoxes(boxesOnBus);
    if (boxesOnBus <= 1) {
        return false;
    }
    Hold(decision, Reason::SeveralBoxes, say ? Tell::SeveralBoxes : Tell::Nothing, boxesOnBus);
    return true;
}

bool BoxLedger::HeldForSeveralBoxes(const std::string& port) const {
    const BoxRecord* record = Find(port);
    return record != nullptr && record->holdTold &&
           std::get<0>(*record->holdTold) == Moment::Connected &&
           std::get<1>(*record->holdTold) == Reason::SeveralBoxes;
}

void BoxLedger::HoldInErrorState(const std::string& port) {
    BoxRecord* record = Lookup(port);
    if (record == nullptr) {
        return;
    }
    Decision decision;
    decision.port = port;
    decision.moment = record->inVisit ? Moment::Bootloader : Moment::Connected;
    Hold(decision, Reason::ErrorState);
    Tell(*record, decision);
}

Decision BoxLedger::Decide(const Situation& situation) {
    Decision decision;
    decision.port = situation.port;
    decision.moment = situation.programmerMode ? Moment::Programmer : Moment::Bootloader;
    BoxRecord& record = RecordFor(situation.port);
    Situation s = situation;
    bool automaticTicks = ticks.automaticFor.has_value();
    if (!s.programmerMode && !std::exchange(record.visit.decided, true) && !s.armTicked &&
        !s.fpgaTicked) {
        Resume(record, s, decision);
        if (!decision.tickAutomatically) {
            decision.visitLine = true;
            record.visit.why = decision.reason;
            record.visit.whyCount = decision.count;
            Tell(record, decision);
            return decision;
        }
        (s.fpgaRoad ? s.fpgaTicked : s.armTicked) = true;
        ticks.automaticFor = s.port;
        automaticTicks = true;
        // Its road goes on: an end told before (a download that found no device) is behind it.
        record.end.reset();
    }
    if (!s.programmerMode && !s.driverReady) {
        Hold(decision, Reason::DriverNotReady);
    } else if (!s.armTicked && !s.fpgaTicked) {
        if (!s.automaticMode) {
            Hold(decision, Reason::WaitsForOperator);
        } else if (s.programmerMode) {
            Hold(decision, Reason::NothingForProgrammer);
        } else if (record.visit.why != Reason::None) {
            Hold(decision, record.visit.why, Tell::Nothing, record.visit.whyCount);
        } else {
            Hold(decision, Reason::NothingTicked);
        }
    } else {
        DecideTicked(record, s, automaticTicks, decision);
    }
    Tell(record, decision);
    return decision;
}

void BoxLedger::Resume(BoxRecord& record, const Situation& s, Decision& decision) {
    if (!s.automaticMode) {
        Hold(decision, Reason::WaitsForOperator);
    } else if (!record.profile) {
        Hold(decision, Reason::NotRecognised);
    } else if (NotSentThere(record)) {
        // The box of the road left while still in normal mode: never restarted, it is not the
        // box of this bootloader, which may be any box of any variant.
        Hold(decision, Reason::LeftBeforeRequest);
    } else if (record.end == RoadEnd::Completed || record.end == RoadEnd::UpToDate) {
        // Its FPGA programmed, it stayed in its programmer mode; a bootloader on its port now is
        // not on its road.
        Hold(decision, Reason::RoadComplete);
    } else if (record.sentAlone) {
        Hold(decision, Reason::BootAlone);
    } else if (!s.packageHasImages) {
        Hold(decision, Reason::NoImage);
    } else if (!s.packageHasVersion) {
        Hold(decision, Reason::NoVersion);
    } else if (!HoldIfLeftTooOften(record, decision) && !HoldIfDownloadsUsedUp(record, decision)) {
        decision.tickAutomatically = true;
        decision.reason = Reason::BackOnRoad;
    }
}

void BoxLedger::DecideTicked(BoxRecord& record, const Situation& s, bool automaticTicks,
                             Decision& decision) {
    if (HoldIfSeveralBoxes(s.boxesOnBus, decision)) {
        return;
    }
    // What the road ticked is for the box on the road, and nothing else: a stranger, a bootloader
    // found where the road's box left before its request, another port's box, or a road that has
    // ended gets nothing by them.
    if (automaticTicks && !record.profile) {
        Hold(decision, Reason::NotRecognised);
        return;
    }
    if (automaticTicks && NotSentThere(record)) {
        Hold(decision, Reason::LeftBeforeRequest);
        return;
    }
    if (automaticTicks && (ticks.automaticFor != s.port || record.end)) {
        Hold(decision, Reason::AnotherBoxsTicks);
        return;
    }
    if (s.programmerMode) {
        if (!s.fpgaTicked) {
            // After "FPGA Done" with "Program ARM" still ticked: the programmer takes no ARM
            // firmware, and only a re-plug brings the box back. Said once.
            const bool armWaits = s.armTicked;
            const bool fresh =
                record.holdTold != std::tuple{Moment::Programmer, Reason::ArmNeedsReplug, 0};
            Hold(decision, armWaits ? Reason::ArmNeedsReplug : Reason::NothingForProgrammer,
                 armWaits && fresh ? Tell::ReplugForArm : Tell::Nothing);
            return;
        }
        decision.work = Work::FpgaProgramming;
    } else if (s.fpgaTicked) {
        // The FPGA comes first; its programmer firmware replaces the ARM download of this poll.
        if (record.programmerTries >= kMaxProgrammerTries) {
            // The tool's end says nothing of its success; a box still in its bootloader after
            // three tries shows that the package cannot make the programmer.
            Hold(decision, Reason::ProgrammerFirmwareUsedUp, Tell::PackageError);
            return;
        }
        decision.work = Work::ProgrammerFirmware;
    } else {
        decision.work = Work::ArmDownload;
    }
    decision.run = true;
    if (decision.reason == Reason::None) {
        decision.reason = automaticTicks ? Reason::RoadTicks : Reason::OperatorTicks;
    }
}

}  // namespace ZELKUtil
