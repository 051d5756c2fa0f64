// Random roads through the ledger, driven as the poll drives it, against what is really on the bus:
// boxes with serials and one without, on two ports, arriving in normal mode or in their
// bootloaders, leaving at any point, swapped, counted down, restarted, downloaded into with any
// outcome, and now and then the operator's tick or "Boot". What must hold whatever happens:
// - a bootloader is served by itself (its road's ticks, or a resume) only where the ledger sent a
//   box to its bootloader (or served one there) and no box arrived in normal mode on that port
//   since. A bootloader tells no identity: a box swapped in while the sent box restarts, or after
//   its download was cut, cannot be told apart, and is served as that box would be;
// - a box (known by its serial) gets at most two automatic downloads that ran to their end between
//   two "Boot"s, however often it is re-plugged or another box takes its port meanwhile;
// - the road's ticks never run for a road that has ended;
// - a hold is told once until it changes, or the box arrives again or begins another visit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <tuple>

#include "controller/box_ledger.h"

namespace ZELKUtil {
namespace {

enum class Mode { Normal, Restarting, Bootloader };

struct Box {
    int id = 0;
    std::string serial;
    std::string version;
    Mode mode = Mode::Normal;
};

const std::array<std::string, 2> kPorts = {"1-1", "1-2"};
// Three boxes that tell their serial, and one that tells none.
const std::array<std::string, 4> kSerials = {"S1", "S2", "S3", ""};

// The poll's side of the ledger, played at random, with the checks.
class Road {
  public:
    explicit Road(unsigned seed) : random_(seed) {
        profile_.id = "Q750";
        profile_.name = "ZELK Q750";
        ledger_.TellTo(RoadEventSink([this](const RoadEvent& e) { Heard(e); }));
    }

    void Step() {
        const std::string& port = kPorts[Pick(2)];
        std::optional<Box>& box = bus_[port];
        switch (Pick(10)) {
            case 0:
                if (!box) {
                    Plug(port, Mode::Normal);
                }
                break;
            case 1:
                if (!box) {
                    Plug(port, Mode::Bootloader);
                }
                break;
            case 2:
                Unplug(port);
                break;
            case 3:
                if (box && box->mode == Mode::Restarting) {
                    box->mode = Mode::Bootloader;
                } else if (box && box->mode == Mode::Normal) {
                    CountdownEnds(port);
                }
                break;
            case 4:
                if (box && box->mode == Mode::Restarting && Pick(3) == 0) {
                    box->id = FreeBox();
                    box->serial = kSerials[static_cast<std::size_t>(box->id)];
                    box->mode = Mode::Bootloader;
                }
                break;
            case 5:
                if (Pick(8) == 0) {
                    Boot(port);
                } else if (Pick(4) == 0) {
                    armTicked_ = true;  // the operator's tick
                    ledger_.ticks.automaticFor.reset();
                }
                break;
            default:
                Poll(port);
                break;
        }
        // At the end of each poll: what a road ticked by itself ends with that road.
        if (ledger_.AutomaticTicksOutlived()) {
            ledger_.ticks.automaticFor.reset();
            armTicked_ = false;
        }
    }

  private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    int BoxesOnBus() const {
        int n = 0;
        for (const auto& [port, box] : bus_) {
            n += box ? 1 : 0;
        }
        return n;
    }

    // A box that is on no port now.
    int FreeBox() {
        for (;;) {
            const int id = Pick(4);
            if (std::none_of(bus_.begin(), bus_.end(),
                             [id](const auto& b) { return b.second && b.second->id == id; })) {
                return id;
            }
        }
    }

    void Plug(const std::string& port, Mode mode) {
        said_ += "plug " + port + (mode == Mode::Normal ? " normal" : " bootloader") + "\n";
        Box box;
        box.id = FreeBox();
        box.serial = kSerials[static_cast<std::size_t>(box.id)];
        box.version = "2.01";
        box.mode = mode;
        bus_[port] = box;
        if (mode == Mode::Normal) {
            Arrive(port);
        }
    }

    void Unplug(const std::string& port) {
        std::optional<Box>& box = bus_[port];
        if (!box) {
            return;
        }
        const Mode mode = box->mode;
        said_ += "unplug " + port + "\n";
        box.reset();
        counting_[port] = false;
        if (mode == Mode::Normal) {
            ledger_.LeftNormalMode(port);
        }
        if (BoxesOnBus() == 0) {
            ledger_.NoteBootloader(std::nullopt);
            ledger_.NoteNoBox();
        }
    }

    // A box answered in normal mode: who it is, and count down or hold.
    void Arrive(const std::string& port) {
        const Box& box = *bus_[port];
        ledger_.Arrive(port, &profile_, box.serial, box.version);
        sent_[port] = false;
        known_[port] = box.id;
        lastHold_.erase(port);
        if (ledger_.ticks.automaticFor && *ledger_.ticks.automaticFor != port) {
            ledger_.ticks.automaticFor.reset();
            armTicked_ = false;
        }
        ConnectedSituation s;
        s.port = port;
        s.namesProfile = true;
        s.upToDate = box.version == "2.04";
        s.automaticMode = true;
        s.packageHasImages = true;
        s.anythingTicked = armTicked_;
        s.boxesOnBus = BoxesOnBus();
        counting_[port] = ledger_.DecideConnected(s).run;
    }

    // The countdown reached 0: the road's tick, and the bootloader request.
    void CountdownEnds(const std::string& port) {
        if (!counting_[port] && !armTicked_) {
            return;
        }
        if (counting_[port]) {
            armTicked_ = true;
            ledger_.ticks.automaticFor = port;
        }
        counting_[port] = false;
        said_ += "request " + port + "\n";
        ledger_.BootloaderRequestSent(port, false);
        sent_[port] = true;
        bus_[port]->mode = Mode::Restarting;
    }

    void Boot(const std::string& port) {
        said_ += "Boot\n";
        ledger_.StartOver();
        downloads_.clear();
        std::optional<Box>& box = bus_[port];
        if (box && box->mode == Mode::Normal) {
            ledger_.BootloaderRequestSent(port, !armTicked_);
            sent_[port] = !armTicked_ ? sent_[port] : true;
            counting_[port] = false;
            box->mode = Mode::Restarting;
        }
    }

    void Poll(const std::string& port) {
        std::optional<Box>& box = bus_[port];
        if (!box || box->mode != Mode::Bootloader) {
            return;
        }
        if (ledger_.NoteBootloader(port)) {
            lastHold_.erase(port);
        }
        Situation s;
        s.port = port;
        s.driverReady = true;
        s.armTicked = armTicked_;
        s.automaticMode = true;
        s.packageHasImages = true;
        s.packageHasVersion = true;
        s.boxesOnBus = BoxesOnBus();
        const BoxRecord* before = ledger_.Find(port);
        const bool ended = before != nullptr && before->end.has_value();
        const Decision d = ledger_.Decide(s);
        if (d.tickAutomatically) {
            armTicked_ = true;
        }
        if (!d.run) {
            return;
        }
        const bool byItself = d.reason == Reason::BackOnRoad || d.reason == Reason::RoadTicks;
        if (byItself) {
            EXPECT_TRUE(sent_[port]) << "a box nobody sent to its bootloader is served by itself\n"
                                     << said_;
            EXPECT_FALSE(d.reason == Reason::RoadTicks && ended)
                << "the road's ticks ran for a road that had ended";
        }
        // Served, by itself or by the operator's tick: the box in the bootloader is on a road now,
        // and comes back in it (a cut download) to be served again.
        sent_[port] = true;
        Download(port, byItself);
    }

    void Download(const std::string& port, bool automatic) {
        Box& box = *bus_[port];
        const DownloadOutcome outcome =
            std::array{DownloadOutcome::Done, DownloadOutcome::Done, DownloadOutcome::Failed,
                       DownloadOutcome::CutShort,
                       DownloadOutcome::NoDevice}[static_cast<std::size_t>(Pick(5))];
        // Counted for the box the ledger knows on the port: one swapped in since is another to it.
        if (automatic && outcome != DownloadOutcome::CutShort && !box.serial.empty() &&
            known_[port] == box.id) {
            EXPECT_LE(++downloads_[box.serial], BoxLedger::kMaxAutoDownloads)
                << "box " << box.serial << " flashed by itself once more than its bound\n"
                << said_;
        }
        said_ +=
            std::string("download ") + port + " " + box.serial + ": " + OutcomeName(outcome) + "\n";
        ledger_.DownloadEnded(port, outcome, true);
        armTicked_ = false;  // the run counts as made, whatever it came to
        if (outcome == DownloadOutcome::CutShort) {
            box.mode = Mode::Restarting;  // back in its bootloader: a new visit
        } else if (outcome == DownloadOutcome::Done) {
            // The image brings it back in normal mode, mostly without the package's version.
            box.version = Pick(4) == 0 ? "2.04" : "2.03";
            box.mode = Mode::Normal;
            Arrive(port);
        }
    }

    void Heard(const RoadEvent& event) {
        said_ += "  " + DescribeRoadEvent(event) + "\n";
        const auto* decided = std::get_if<RoadEvents::Decided>(&event);
        if (decided == nullptr) {
            return;
        }
        const Decision& d = decided->decision;
        if (d.run) {
            lastHold_.erase(d.port);
            return;
        }
        const auto hold = std::tuple{d.moment, d.reason, d.count};
        const auto last = lastHold_.find(d.port);
        EXPECT_TRUE(last == lastHold_.end() || last->second != hold)
            << "the hold \"" << ReasonText(d.reason, d.count) << "\" told again on " << d.port;
        lastHold_[d.port] = hold;
    }

    std::mt19937 random_;
    ZelkProfile profile_;
    BoxLedger ledger_;
    std::map<std::string, std::optional<Box>> bus_;
    // The ledger sent a box to its bootloader on the port, and no box arrived there since.
    std::map<std::string, bool> sent_;
    std::map<std::string, bool> counting_;
    // The box that last arrived in normal mode on the port.
    std::map<std::string, int> known_;
    bool armTicked_ = false;
    // Automatic downloads that ran to their end, by serial, since the last "Boot".
    std::map<std::string, int> downloads_;
    std::map<std::string, std::tuple<Moment, Reason, int>> lastHold_;
    // What the ledger told, and what happened on the bus, for a failure's message.
    std::string said_;
};

TEST(BoxLedgerProperty, RandomRoadsKeepTheLedgersPromises) {
    for (unsigned seed = 1; seed <= 2000; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Road road(seed);
        for (int step = 0; step < 120 && !::testing::Test::HasFailure(); ++step) {
            road.Step();
        }
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
}

}  // namespace
}  // namespace ZELKUtil
