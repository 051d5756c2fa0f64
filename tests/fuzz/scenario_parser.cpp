// The scenario parser and the log block writer on any text.
#include <cstdint>
#include <string>
#include <string_view>

#include "scenario/console_view.h"
#include "scenario/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ZELKSim::ParseScenario(text);
    (void)ZELKSim::LogBlockLines(std::string(text));
    (void)ZELKSim::Quoted(std::string(text));
    return 0;
}
