// Every scenario of the project, played with its trace: what the controller decides for a box is
// told once per change, and every box that answers in normal mode gets a decision with its
// reason, whatever the scenario is about.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "scenario/scenario_runner.h"

namespace ZELKSim {
namespace {

TEST(ScenarioTraces, AHoldIsToldOncePerChangeAndEveryConnectionIsDecided) {
    // "[    12.345] decision 1-1 hold: why", "[     0.022] connected 1-1 Q750 2.01 ..."
    static const std::regex event(R"(^\[ *[0-9.]+\] (connected|in bootloader|in programmer mode|)"
                                  R"(decision) (\S+) ?(.*)$)");
    int scenarios = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZELK_SCENARIOS_DIR)) {
        if (entry.path().extension() != ".scn") {
            continue;
        }
        ++scenarios;
        SCOPED_TRACE(entry.path().filename().string());
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunScenarioFile(entry.path().string(), true, out, err), 0) << err.str();
        // Per port: the hold told last since the box arrived or began a visit, and whether a
        // connection is still waiting for its decision.
        std::map<std::string, std::string> lastHold;
        std::map<std::string, bool> undecided;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (!std::regex_match(line, m, event)) {
                continue;
            }
            const std::string what = m[1].str();
            const std::string port = m[2].str();
            if (what != "decision") {
                EXPECT_FALSE(undecided[port]) << "no decision after its connection: " << line;
                undecided[port] = what == "connected";
                lastHold.erase(port);
                continue;
            }
            undecided[port] = false;
            const std::string decision = m[3].str();
            if (decision.rfind("hold:", 0) != 0) {
                lastHold.erase(port);
                continue;
            }
            EXPECT_NE(lastHold[port], decision) << "told again: " << line;
            lastHold[port] = decision;
        }
        for (const auto& [port, waiting] : undecided) {
            EXPECT_FALSE(waiting) << port << " connected and never decided";
        }
    }
    EXPECT_GT(scenarios, 30);
}

}  // namespace
}  // namespace ZELKSim
