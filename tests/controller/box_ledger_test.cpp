// The ledger's decisions as a table of situations: what the ledger knows of a box and what the poll
// sees, against run or hold, the work, the reason, the line told and how the road ends.
#include "controller/box_ledger.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace ZELKUtil {
namespace {

using Tell = Decision::Tell;

ZelkProfile Q750() {
    ZelkProfile profile;
    profile.id = "Q750";
    profile.name = "ZELK Q750";
    return profile;
}

// The ledger with the events it told.
struct Told {
    Told() {
        ledger.TellTo(RoadEventSink([this](const RoadEvent& e) { events.push_back(e); }));
    }
    std::vector<RoadEvents::Ended> Ends() const {
        std::vector<RoadEvents::Ended> ends;
        for (const RoadEvent& e : events) {
            if (const auto* end = std::get_if<RoadEvents::Ended>(&e)) {
                ends.push_back(*end);
            }
        }
        return ends;
    }
    int Decisions() const {
        int n = 0;
        for (const RoadEvent& e : events) {
            n += std::holds_alternative<RoadEvents::Decided>(e) ? 1 : 0;
        }
        return n;
    }
    BoxLedger ledger;
    std::vector<RoadEvent> events;
};

// A box recognised on 1-1 in normal mode with a serial, version 2.01.
void RecognisedWith(BoxLedger& l, const std::string& serial) {
    const ZelkProfile q750 = Q750();
    l.Arrive("1-1", &q750, serial, "2.01");
}
void Recognised(BoxLedger& l) {
    RecognisedWith(l, "S1");
}

// The same, counted down and sent to its bootloader, found there for the first time.
void SentBox(BoxLedger& l) {
    Recognised(l);
    l.BootloaderRequestSent("1-1", false);
    l.NoteBootloader("1-1");
}

ConnectedSituation Connected() {
    ConnectedSituation s;
    s.port = "1-1";
    s.namesProfile = true;
    s.automaticMode = true;
    s.packageHasImages = true;
    return s;
}

// A poll that finds the box in its bootloader, with the right driver and nothing ticked, in a
// package that upgrades by itself.
Situation Bootloader() {
    Situation s;
    s.port = "1-1";
    s.driverReady = true;
    s.automaticMode = true;
    s.packageHasImages = true;
    s.packageHasVersion = true;
    return s;
}

struct Row {
    const char* what;
    std::function<void(BoxLedger&)> before;
    // One of the two is set: the box seen in normal mode, or in its bootloader or programmer mode.
    std::function<void(ConnectedSituation&)> connected;
    std::function<void(Situation&)> sees;
    bool run;
    Work work;
    Reason reason;
    Tell tell = Tell::Nothing;
    bool tick = false;
    std::optional<RoadEnd> end = std::nullopt;
};

TEST(BoxLedger, DecidesEveryMomentWithItsReasonAndEndsTheRoadsNothingCanGoOn) {
    const auto asIs = [](Situation&) {};
    const auto due = [](ConnectedSituation&) {};
    const auto stranger = [](BoxLedger& l) { l.NoteBootloader("1-1"); };
    const auto arm = [](Situation& s) { s.armTicked = true; };
    const auto downloadsDone = [](int n, DownloadOutcome outcome) {
        return [n, outcome](BoxLedger& l) {
            SentBox(l);
            for (int i = 0; i < n; ++i) {
                l.DownloadEnded("1-1", outcome, true);
            }
            Recognised(l);
        };
    };
    const Row rows[] = {
        // In normal mode.
        {"a box whose upgrade is due", Recognised, due, nullptr, true, Work::Nothing,
         Reason::UpgradeDue},
        {"a box with the package's version", Recognised,
         [](ConnectedSituation& s) { s.upToDate = true; }, nullptr, false, Work::Nothing,
         Reason::UpToDate, Tell::Nothing, false, RoadEnd::UpToDate},
        {"a box that names no profile", [](BoxLedger& l) { l.Arrive("1-1", nullptr, "S", "3.0"); },
         [](ConnectedSituation& s) { s.namesProfile = false; }, nullptr, false, Work::Nothing,
         Reason::WrongPackage, Tell::Nothing, false, RoadEnd::Failed},
        {"a package without images", Recognised,
         [](ConnectedSituation& s) { s.packageHasImages = false; }, nullptr, false, Work::Nothing,
         Reason::NoImage, Tell::Nothing, false, RoadEnd::Failed},
        {"a package that waits for the operator", Recognised,
         [](ConnectedSituation& s) { s.automaticMode = false; }, nullptr, false, Work::Nothing,
         Reason::WaitsForOperator},
        {"the operator's ticks on a package that waits for them", Recognised,
         [](ConnectedSituation& s) {
             s.automaticMode = false;
             s.anythingTicked = true;
         },
         nullptr, true, Work::Nothing, Reason::OperatorTicks},
        {"back from the operator's download without the package's version",
         [](BoxLedger& l) {
             SentBox(l);
             l.DownloadEnded("1-1", DownloadOutcome::Done, false);
             Recognised(l);
         },
         [](ConnectedSituation& s) { s.automaticMode = false; }, nullptr, false, Work::Nothing,
         Reason::NotBroughtToVersion, Tell::Nothing, false, RoadEnd::Failed},
        {"another box on the bus", Recognised, [](ConnectedSituation& s) { s.boxesOnBus = 2; },
         nullptr, false, Work::Nothing, Reason::SeveralBoxes, Tell::SeveralBoxes},
        {"back from two downloads without the package's version",
         downloadsDone(BoxLedger::kMaxAutoDownloads, DownloadOutcome::Done), due, nullptr, false,
         Work::Nothing, Reason::AutoDownloadsUsedUp, Tell::PackageError, false, RoadEnd::Failed},
        {"back in normal mode after five cut downloads",
         downloadsDone(BoxLedger::kMaxInterruptedDownloads, DownloadOutcome::CutShort), due,
         nullptr, false, Work::Nothing, Reason::KeepsLeaving, Tell::KeepsLeaving, false,
         RoadEnd::Interrupted},
        // In its bootloader, nothing ticked: the start of a visit.
        {"a box on its road, back in its bootloader", SentBox, nullptr, asIs, true,
         Work::ArmDownload, Reason::BackOnRoad, Tell::Nothing, true},
        {"the same on the FPGA road", SentBox, nullptr, [](Situation& s) { s.fpgaRoad = true; },
         true, Work::ProgrammerFirmware, Reason::BackOnRoad, Tell::Nothing, true},
        {"a box this run never recognised", stranger, nullptr, asIs, false, Work::Nothing,
         Reason::NotRecognised, Tell::Nothing, false, RoadEnd::LeftAlone},
        {"the box of the port left during its countdown",
         [](BoxLedger& l) {
             Recognised(l);
             l.LeftNormalMode("1-1");
             l.NoteBootloader("1-1");
         },
         nullptr, asIs, false, Work::Nothing, Reason::LeftBeforeRequest, Tell::Nothing, false,
         RoadEnd::LeftAlone},
        {"the box of the port seen leaving by a poll that found no box at all",
         [](BoxLedger& l) {
             Recognised(l);
             l.NoteNoBox();
             l.NoteBootloader("1-1");
         },
         nullptr, asIs, false, Work::Nothing, Reason::LeftBeforeRequest, Tell::Nothing, false,
         RoadEnd::LeftAlone},
        {"a visit that \"Boot\" alone began",
         [](BoxLedger& l) {
             Recognised(l);
             l.BootloaderRequestSent("1-1", true);
             l.NoteBootloader("1-1");
         },
         nullptr, asIs, false, Work::Nothing, Reason::BootAlone},
        {"\"Boot\" while the box waits in its bootloader",
         [](BoxLedger& l) {
             SentBox(l);
             l.StartOver();
             l.NoteBootloader("1-1");
         },
         nullptr, asIs, false, Work::Nothing, Reason::BootAlone},
        {"a bootloader where the box's FPGA road had completed",
         [](BoxLedger& l) {
             SentBox(l);
             l.ProgrammerFirmwareSent("1-1", true);
             l.FpgaProgrammed("1-1");
             l.Settle(false);
             l.NoteBootloader(std::nullopt);
             l.NoteBootloader("1-1");
         },
         nullptr, asIs, false, Work::Nothing, Reason::RoadComplete, Tell::Nothing, false,
         RoadEnd::LeftAlone},
        {"a package that waits for the operator", SentBox, nullptr,
         [](Situation& s) { s.automaticMode = false; }, false, Work::Nothing,
         Reason::WaitsForOperator},
        {"a package without a version", SentBox, nullptr,
         [](Situation& s) { s.packageHasVersion = false; }, false, Work::Nothing, Reason::NoVersion,
         Tell::Nothing, false, RoadEnd::Failed},
        {"a box that left its last five downloads",
         [](BoxLedger& l) {
             SentBox(l);
             for (int i = 0; i < BoxLedger::kMaxInterruptedDownloads; ++i) {
                 l.DownloadEnded("1-1", DownloadOutcome::CutShort, true);
             }
             l.NoteBootloader("1-1");
         },
         nullptr, asIs, false, Work::Nothing, Reason::KeepsLeaving, Tell::KeepsLeaving, false,
         RoadEnd::Interrupted},
        {"a box whose automatic downloads are used up",
         [](BoxLedger& l) {
             SentBox(l);
             l.DownloadEnded("1-1", DownloadOutcome::Done, true);
             l.DownloadEnded("1-1", DownloadOutcome::Failed, true);
             l.NoteBootloader(std::nullopt);
             l.NoteBootloader("1-1");
         },
         nullptr, asIs, false, Work::Nothing, Reason::AutoDownloadsUsedUp, Tell::PackageError,
         false, RoadEnd::Failed},
        {"a second decision in a visit whose download was made",
         [](BoxLedger& l) {
             SentBox(l);
             (void)l.Decide(Bootloader());
             l.DownloadEnded("1-1", DownloadOutcome::Failed, true);
         },
         nullptr, asIs, false, Work::Nothing, Reason::DownloadMade},
        // Ticked.
        {"the road's ticks on a box nobody recognised",
         [](BoxLedger& l) {
             l.ticks.automaticFor = "1-1";
             l.NoteBootloader("1-1");
         },
         nullptr, arm, false, Work::Nothing, Reason::NotRecognised, Tell::Nothing, false,
         RoadEnd::LeftAlone},
        {"the road's ticks made for the box on another port",
         [](BoxLedger& l) {
             SentBox(l);
             l.ticks.automaticFor = "1-2";
         },
         nullptr, arm, false, Work::Nothing, Reason::AnotherBoxsTicks},
        {"the operator's ticks on a box nobody recognised", stranger, nullptr, arm, true,
         Work::ArmDownload, Reason::OperatorTicks},
        {"a bootloader without the tool's driver", SentBox, nullptr,
         [](Situation& s) { s.driverReady = false; }, false, Work::Nothing, Reason::DriverNotReady,
         Tell::Nothing, true},
        {"two boxes on the bus", SentBox, nullptr, [](Situation& s) { s.boxesOnBus = 2; }, false,
         Work::Nothing, Reason::SeveralBoxes, Tell::SeveralBoxes, true},
        {"FPGA ticked with the programmer firmware tried three times",
         [](BoxLedger& l) {
             SentBox(l);
             for (int i = 0; i < BoxLedger::kMaxProgrammerTries; ++i) {
                 l.ProgrammerFirmwareSent("1-1", false);
             }
         },
         nullptr, [](Situation& s) { s.fpgaTicked = true; }, false, Work::Nothing,
         Reason::ProgrammerFirmwareUsedUp, Tell::PackageError, false, RoadEnd::Failed},
        // As the programmer.
        {"the programmer with FPGA ticked", SentBox, nullptr,
         [](Situation& s) {
             s.programmerMode = true;
             s.fpgaTicked = true;
         },
         true, Work::FpgaProgramming, Reason::OperatorTicks},
        {"the programmer after \"FPGA Done\" with ARM still ticked", SentBox, nullptr,
         [](Situation& s) {
             s.programmerMode = true;
             s.armTicked = true;
         },
         false, Work::Nothing, Reason::ArmNeedsReplug, Tell::ReplugForArm},
        {"the programmer with nothing ticked", SentBox, nullptr,
         [](Situation& s) { s.programmerMode = true; }, false, Work::Nothing,
         Reason::NothingForProgrammer},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Told told;
        row.before(told.ledger);
        told.events.clear();
        Decision decision;
        if (row.connected) {
            ConnectedSituation s = Connected();
            row.connected(s);
            decision = told.ledger.DecideConnected(s);
        } else {
            Situation s = Bootloader();
            row.sees(s);
            decision = told.ledger.Decide(s);
        }
        EXPECT_EQ(decision.port, "1-1");
        EXPECT_EQ(decision.run, row.run);
        EXPECT_EQ(decision.work, row.work);
        EXPECT_EQ(decision.reason, row.reason) << ReasonText(decision.reason, decision.count);
        EXPECT_EQ(decision.tell, row.tell);
        EXPECT_EQ(decision.tickAutomatically, row.tick);
        // Told once, with the end where nothing but the operator can lift the hold.
        ASSERT_FALSE(told.events.empty());
        const auto* decided = std::get_if<RoadEvents::Decided>(&told.events.front());
        ASSERT_NE(decided, nullptr);
        EXPECT_EQ(decided->decision.reason, row.reason);
        const auto ends = told.Ends();
        ASSERT_EQ(ends.size(), row.end ? 1U : 0U);
        if (row.end) {
            EXPECT_EQ(ends[0].end, *row.end);
            EXPECT_EQ(ends[0].port, "1-1");
        }
    }
}

TEST(BoxLedger, AHoldIsToldWhenItBeginsOrChangesAndLinesOnce) {
    Told told;
    SentBox(told.ledger);
    Situation two = Bootloader();
    two.armTicked = true;
    two.boxesOnBus = 2;
    EXPECT_EQ(told.ledger.Decide(two).tell, Tell::SeveralBoxes);
    EXPECT_EQ(told.ledger.Decide(two).tell, Tell::Nothing);
    EXPECT_EQ(told.Decisions(), 1) << "the same hold, told once";
    two.boxesOnBus = 3;
    (void)told.ledger.Decide(two);
    EXPECT_EQ(told.Decisions(), 2) << "its reason changed";
    Situation one = two;
    one.boxesOnBus = 1;
    EXPECT_TRUE(told.ledger.Decide(one).run);
    EXPECT_TRUE(told.ledger.Decide(one).run);
    EXPECT_EQ(told.Decisions(), 4) << "every run is told";
    EXPECT_EQ(told.ledger.Decide(two).tell, Tell::SeveralBoxes) << "told again after one remained";

    // The keeps-leaving line once; re-plugged as it asks, the box gets one more try.
    for (int i = 0; i < BoxLedger::kMaxInterruptedDownloads; ++i) {
        told.ledger.DownloadEnded("1-1", DownloadOutcome::CutShort, true);
    }
    told.ledger.NoteBootloader("1-1");
    EXPECT_EQ(told.ledger.Decide(Bootloader()).tell, Tell::KeepsLeaving);
    EXPECT_EQ(told.ledger.Decide(Bootloader()).tell, Tell::Nothing);
    told.ledger.NoteBootloader(std::nullopt);
    told.ledger.NoteNoBox();
    told.ledger.NoteBootloader("1-1");
    const Decision again = told.ledger.Decide(Bootloader());
    EXPECT_TRUE(again.tickAutomatically) << ReasonText(again.reason, again.count);
    told.ledger.DownloadEnded("1-1", DownloadOutcome::CutShort, true);
    told.ledger.NoteBootloader("1-1");
    EXPECT_EQ(told.ledger.Decide(Bootloader()).tell, Tell::KeepsLeaving) << "one try, not five";
}

TEST(BoxLedger, BoundsAreTheBoxsOwnByItsSerialWheneverItLeft) {
    Told told;
    BoxLedger& ledger = told.ledger;
    SentBox(ledger);
    ledger.DownloadEnded("1-1", DownloadOutcome::Done, true);
    // Back with another version than the package's: the same box, its bound goes on.
    EXPECT_TRUE(ledger.Arrive("1-1", nullptr, "S1", "2.03"));
    EXPECT_TRUE(ledger.DecideConnected(Connected()).run);
    // Re-plugged during its countdown: still the same box; a re-plug lifts no bound.
    ledger.LeftNormalMode("1-1");
    const ZelkProfile q750 = Q750();
    EXPECT_FALSE(ledger.Arrive("1-1", &q750, "S1", "2.03"));
    EXPECT_TRUE(ledger.DecideConnected(Connected()).run);
    ledger.BootloaderRequestSent("1-1", false);
    ledger.DownloadEnded("1-1", DownloadOutcome::Done, true);
    ledger.Arrive("1-1", &q750, "S1", "2.03");
    EXPECT_EQ(ledger.DecideConnected(Connected()).reason, Reason::AutoDownloadsUsedUp);
    // Another serial on the port is another box: the first box's road is over (it had ended),
    // and the new box starts afresh.
    told.events.clear();
    EXPECT_FALSE(ledger.Arrive("1-1", &q750, "S2", "2.01"));
    EXPECT_TRUE(ledger.DecideConnected(Connected()).run);
    // "Boot" starts every bound afresh.
    SentBox(ledger);
    ledger.DownloadEnded("1-1", DownloadOutcome::Done, true);
    ledger.DownloadEnded("1-1", DownloadOutcome::Done, true);
    ledger.StartOver();
    ledger.Arrive("1-1", &q750, "S1", "2.03");
    EXPECT_TRUE(ledger.DecideConnected(Connected()).run);
}

TEST(BoxLedger, AnotherBoxInTheRecordsPlaceEndsTheFirstRoadInterrupted) {
    const ZelkProfile q750 = Q750();
    struct Case {
        const char* what;
        std::string serial;
        std::string version;
        bool sameBox;
    };
    const Case cases[] = {
        {"the same serial", "S1", "2.01", true},
        {"another serial", "S2", "2.01", false},
        {"no serial, the same version", "", "2.01", true},
        {"no serial, another version, nothing written into it", "", "1.90", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Told told;
        RecognisedWith(told.ledger, c.serial.empty() ? "" : "S1");
        told.ledger.BootloaderRequestSent("1-1", false);
        told.ledger.LeftNormalMode("1-1");
        told.events.clear();
        const bool back = told.ledger.Arrive("1-1", &q750, c.serial, c.version);
        EXPECT_EQ(back, c.sameBox);
        const auto ends = told.Ends();
        ASSERT_EQ(ends.size(), c.sameBox ? 0U : 1U);
        if (!c.sameBox) {
            EXPECT_EQ(ends[0].end, RoadEnd::Interrupted);
            EXPECT_EQ(ends[0].reason, Reason::AnotherBox);
        }
    }
}

TEST(BoxLedger, ARoadCompletesWhenNothingMoreIsTickedForIt) {
    Told told;
    BoxLedger& ledger = told.ledger;
    SentBox(ledger);
    ledger.DownloadEnded("1-1", DownloadOutcome::Done, false);
    ledger.Arrive("1-1", nullptr, "S1", "2.04");
    ConnectedSituation back = Connected();
    back.upToDate = true;
    (void)ledger.DecideConnected(back);
    ledger.Returned("1-1", "2.04");
    EXPECT_TRUE(told.Ends().empty()) << "the operator may tick more for it";
    ledger.Settle(true);
    EXPECT_TRUE(told.Ends().empty()) << "the FPGA was ticked after its ARM";
    ledger.BootloaderRequestSent("1-1", false);
    ledger.ProgrammerFirmwareSent("1-1", false);
    ledger.FpgaProgrammed("1-1");
    ledger.Settle(false);
    const auto ends = told.Ends();
    ASSERT_EQ(ends.size(), 1U);
    EXPECT_EQ(ends[0].end, RoadEnd::Completed);
    EXPECT_EQ(ends[0].version, "2.04");
    EXPECT_TRUE(ends[0].arm);
    EXPECT_TRUE(ends[0].fpga);
    ledger.Settle(false);
    EXPECT_EQ(told.Ends().size(), 1U) << "an end is told once";
}

}  // namespace
}  // namespace ZELKUtil
