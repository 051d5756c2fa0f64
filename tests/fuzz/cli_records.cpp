// What zelk-cli reads back that others may have written: bench scenario files, history lines and
// event lines, and the one-line form every box string takes on a terminal, on any text.
#include <cstdint>
#include <string>
#include <string_view>

#include "bench_runs/bench_scenario.h"
#include "cli/events.h"
#include "cli/history.h"
#include "platform/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ZELKSim::ParseBenchScenario(text);
    const std::string whole(text);
    if (const auto record = ZELKUtil::Cli::ParseHistoryLine(whole)) {
        (void)ZELKUtil::Cli::FormatHistoryTable({*record});
        (void)ZELKUtil::Cli::ToJsonLine(*record);
    }
    if (const auto event = ZELKUtil::Cli::FromJsonLine(whole)) {
        for (const bool verbose : {false, true}) {
            const auto line = ZELKUtil::Cli::ToHumanLine(*event, verbose);
            if (line && line->find_first_of("\r\n\x1b") != std::string::npos) {
                __builtin_trap();  // a box's text must never start a line or drive a terminal
            }
        }
        (void)ZELKUtil::Cli::ToJsonLine(*event);
    }
    (void)ZELKUtil::OneLineText(text);
    return 0;
}
