#pragma once

#include <iosfwd>
#include <string>

namespace ZELKSim {

// What `zelk-sim run` returns.
enum ScenarioExit : int {
    kScenarioPassed = 0,
    kScenarioFailed = 1,      // an expectation did not hold
    kScenarioUnplayable = 2,  // the file cannot be read or parsed, or the run cannot go on
};

// Plays a scenario file in virtual time. The transcript (the final log exactly as it stands, then
// the labels) goes to `out`, preceded, when tracing, by every poll, wait, tool start, label change
// and step with its virtual time; what went wrong goes to `err`, each with the file and line.
int RunScenarioFile(const std::string& path, bool trace, std::ostream& out, std::ostream& err);

}  // namespace ZELKSim
