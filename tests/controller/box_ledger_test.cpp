// The ledger's decision for a box in its bootloader or programmer mode, as a table: what the
// ledger knows of the box and what the poll sees, against run or hold, the work and the line told.
#include "controller/box_ledger.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace ZELKUtil {
namespace {

using Tell = Decision::Tell;

ZelkProfile Q750() {
    ZelkProfile profile;
    profile.id = "Q750";
    profile.name = "ZELK Q750";
    return profile;
}

// A box recognised on 1-1 and sent to its bootloader, found there for the first time.
void SentBox(BoxLedger& ledger) {
    ledger.Recognise("1-1", Q750());
    ledger.CountdownStarted("1-1");
    ledger.BootloaderRequestSent("1-1", false);
    ledger.NoteBootloader("1-1");
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
    std::function<void(Situation&)> sees;
    bool run;
    Work work;
    bool tick;
    Tell tell;
    const char* reason;  // a part of the reason
};

TEST(BoxLedger, DecidesRunOrHoldWithItsReason) {
    const auto asIs = [](Situation&) {};
    const auto stranger = [](BoxLedger& l) { l.NoteBootloader("1-1"); };
    const auto operatorArm = [](Situation& s) { s.armTicked = true; };
    const Row rows[] = {
        {"a box on its road, back in its bootloader with nothing ticked", SentBox, asIs, true,
         Work::ArmDownload, true, Tell::Nothing, "back in its bootloader"},
        {"the same on the FPGA road", SentBox, [](Situation& s) { s.fpgaRoad = true; }, true,
         Work::ProgrammerFirmware, true, Tell::Nothing, "back in its bootloader"},
        {"a box this run never recognised", stranger, asIs, false, Work::Nothing, false,
         Tell::Nothing, "not recognised"},
        {"a box unplugged during its countdown, back in its bootloader",
         [](BoxLedger& l) {
             l.Recognise("1-1", Q750());
             l.CountdownStarted("1-1");
             l.LeftNormalMode("1-1");
             l.NoteBootloader("1-1");
         },
         asIs, false, Work::Nothing, false, Tell::Nothing, "not recognised"},
        {"the road's ticks on a box nobody recognised", stranger,
         [](Situation& s) {
             s.armTicked = true;
             s.automaticTicks = true;
         },
         false, Work::Nothing, false, Tell::Nothing, "not recognised"},
        {"the operator's ticks on a box nobody recognised", stranger, operatorArm, true,
         Work::ArmDownload, false, Tell::Nothing, "operator"},
        {"a visit that \"Boot\" alone began",
         [](BoxLedger& l) {
             l.Recognise("1-1", Q750());
             l.BootloaderRequestSent("1-1", true);
             l.NoteBootloader("1-1");
         },
         asIs, false, Work::Nothing, false, Tell::Nothing, "\"Boot\" alone"},
        {"a package that waits for the operator", SentBox,
         [](Situation& s) { s.automaticMode = false; }, false, Work::Nothing, false, Tell::Nothing,
         "operator's ticks"},
        {"a package without a version", SentBox, [](Situation& s) { s.packageHasVersion = false; },
         false, Work::Nothing, false, Tell::Nothing, "no version"},
        {"a bootloader without the tool's driver", SentBox,
         [](Situation& s) { s.driverReady = false; }, false, Work::Nothing, true, Tell::Nothing,
         "driver"},
        {"two boxes on the bus", SentBox, [](Situation& s) { s.boxesOnBus = 2; }, false,
         Work::Nothing, true, Tell::SeveralBoxes, "2 boxes"},
        {"a box that left its last five downloads",
         [](BoxLedger& l) {
             SentBox(l);
             for (int i = 0; i < BoxLedger::kMaxInterruptedDownloads; ++i) {
                 l.DownloadEnded("1-1", DownloadOutcome::CutShort, true);
             }
             l.NoteBootloader("1-1");
         },
         asIs, false, Work::Nothing, false, Tell::KeepsLeaving, "left its last 5"},
        {"a box whose automatic downloads are used up",
         [](BoxLedger& l) {
             SentBox(l);
             l.DownloadEnded("1-1", DownloadOutcome::Done, true);
             l.DownloadEnded("1-1", DownloadOutcome::Failed, true);
             l.NoteBootloader(std::nullopt);
             l.NoteBootloader("1-1");
         },
         asIs, false, Work::Nothing, false, Tell::PackageError, "used up"},
        {"a second decision in a visit whose download was made",
         [](BoxLedger& l) {
             SentBox(l);
             (void)l.Decide(Bootloader());
             l.DownloadEnded("1-1", DownloadOutcome::Failed, true);
         },
         asIs, false, Work::Nothing, false, Tell::Nothing, "has been made"},
        {"FPGA ticked with the programmer firmware tried three times",
         [](BoxLedger& l) {
             SentBox(l);
             for (int i = 0; i < BoxLedger::kMaxProgrammerTries; ++i) {
                 l.ProgrammerFirmwareSent("1-1", false);
             }
         },
         [](Situation& s) { s.fpgaTicked = true; }, false, Work::ProgrammerFirmware, false,
         Tell::PackageError, "used up"},
        {"the programmer with FPGA ticked", SentBox,
         [](Situation& s) {
             s.programmerMode = true;
             s.fpgaTicked = true;
         },
         true, Work::FpgaProgramming, false, Tell::Nothing, "operator"},
        {"the programmer with nothing ticked", SentBox,
         [](Situation& s) { s.programmerMode = true; }, false, Work::Nothing, false, Tell::Nothing,
         "nothing is ticked"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        BoxLedger ledger;
        row.before(ledger);
        Situation situation = Bootloader();
        row.sees(situation);
        const Decision decision = ledger.Decide(situation);
        EXPECT_EQ(decision.port, "1-1");
        EXPECT_EQ(decision.run, row.run);
        EXPECT_EQ(decision.work, row.work);
        EXPECT_EQ(decision.tickAutomatically, row.tick);
        EXPECT_EQ(decision.tell, row.tell);
        EXPECT_NE(decision.reason.find(row.reason), std::string::npos) << decision.reason;
    }
}

TEST(BoxLedger, LinesAreToldOnceAndAReplugGivesABoxThatKeepsLeavingOneMoreTry) {
    BoxLedger ledger;
    SentBox(ledger);
    Situation two = Bootloader();
    two.armTicked = true;
    two.boxesOnBus = 2;
    EXPECT_EQ(ledger.Decide(two).tell, Tell::SeveralBoxes);
    EXPECT_EQ(ledger.Decide(two).tell, Tell::Nothing);
    Situation one = two;
    one.boxesOnBus = 1;
    EXPECT_TRUE(ledger.Decide(one).run);
    EXPECT_EQ(ledger.Decide(two).tell, Tell::SeveralBoxes) << "told again after one box remained";

    for (int i = 0; i < BoxLedger::kMaxInterruptedDownloads; ++i) {
        ledger.DownloadEnded("1-1", DownloadOutcome::CutShort, true);
    }
    ledger.NoteBootloader("1-1");
    EXPECT_EQ(ledger.Decide(Bootloader()).tell, Tell::KeepsLeaving);
    EXPECT_EQ(ledger.Decide(Bootloader()).tell, Tell::Nothing);
    // Re-plugged as the line asks: the poll that finds no box, then the box back.
    ledger.NoteBootloader(std::nullopt);
    ledger.NoteNoBox();
    ledger.NoteBootloader("1-1");
    const Decision again = ledger.Decide(Bootloader());
    EXPECT_TRUE(again.tickAutomatically) << again.reason;
    ledger.DownloadEnded("1-1", DownloadOutcome::CutShort, true);
    ledger.NoteBootloader("1-1");
    EXPECT_EQ(ledger.Decide(Bootloader()).tell, Tell::KeepsLeaving) << "one try, not five";
}

TEST(BoxLedger, BoundsAreEachBoxsOwnAndSurviveItsReturnInNormalMode) {
    BoxLedger ledger;
    SentBox(ledger);
    ledger.DownloadEnded("1-1", DownloadOutcome::Done, true);
    // Back in normal mode with another version than the package's: the same box, its bound goes
    // on; a second download uses it up.
    ledger.Recognise("1-1", Q750());
    EXPECT_FALSE(ledger.RefuseCountdown("1-1"));
    ledger.BootloaderRequestSent("1-1", false);
    ledger.DownloadEnded("1-1", DownloadOutcome::Done, true);
    ledger.Recognise("1-1", Q750());
    const std::optional<Decision> refused = ledger.RefuseCountdown("1-1");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->tell, Tell::PackageError);
    // Another box's bound is untouched; and a box unplugged before its request starts afresh.
    ledger.Recognise("1-2", Q750());
    EXPECT_FALSE(ledger.RefuseCountdown("1-2"));
    ledger.LeftNormalMode("1-2");
    EXPECT_EQ(ledger.Find("1-2"), nullptr);
    // "Boot" starts every bound afresh.
    ledger.StartOver();
    EXPECT_FALSE(ledger.RefuseCountdown("1-1"));
}

}  // namespace
}  // namespace ZELKUtil
