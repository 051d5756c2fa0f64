#pragma once

#include <cstdint>

// How often the programs look, and how long they wait for a box before they give up on it: one
// table, each with why, beside the controller's own waits (waits.h). The window and zelk-cli both
// run the controller on the poll period; the rest are zelk-cli's bounds on one box's run.
namespace ZELKUtil::Periods {

// The window's timer, and zelk-cli's per-box run: each tick is one poll of the controller. The
// road's waits and the operator's countdown are counted in these.
inline constexpr std::int64_t kPollMs = 1000;

// zelk-cli's look at the bus for boxes plugged in (--watch) or gone, between its runs.
inline constexpr std::int64_t kBusLookMs = 1000;

// A box that is not recognised in normal mode (found only in its bootloader or as the
// programmer, or answering without a firmware version) is left alone after this long: the
// controller would wait for it without end.
inline constexpr std::int64_t kStrangerMs = 10000;

// A box off the bus in its normal mode, with nothing written into it yet, counts as unplugged
// after this long: enough for a glitch that makes it re-enumerate.
inline constexpr std::int64_t kUnpluggedInNormalModeMs = 3000;

// A box that left in its bootloader or programmer mode is waited for this long: putting it back
// lets its download or FPGA run go on.
inline constexpr std::int64_t kGoneMidRoadMs = 30000;

// One box's whole run, unless --timeout says otherwise (minutes).
inline constexpr int kRunLimitMinutes = 20;

// A box waits this long for another box's driver installer (they run one at a time) before its
// own start fails.
inline constexpr std::int64_t kInstallerTurnMs = std::int64_t{5} * 60 * 1000;

}  // namespace ZELKUtil::Periods
