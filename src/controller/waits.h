#pragma once

#include <cstdint>

// The waits the controller makes of its own accord, each a blocking wait of the window's thread
// (the window repaints only its log meanwhile). Each gives the box, its driver or the tools the
// time the step before them needs; none of them is a time-out.
namespace ZELKUtil::Waits {

// After the box is told to restart into its bootloader: it leaves the bus and comes back as a
// DFU device before the next poll looks for it.
inline constexpr std::int64_t kAfterBootloaderStartMs = 3000;
// After the driver installer was started: the bootloader's driver binds before the box is looked
// for under it.
inline constexpr std::int64_t kAfterDriverInstallMs = 3000;
// After the countdown's first step: the operator sees "5.." before the next poll counts on.
inline constexpr std::int64_t kAfterCountdownStartMs = 1000;
// Before the bootloader is looked for a second time, when the first look found it without a
// driver that answers: the driver may still be coming up.
inline constexpr std::int64_t kBeforeSecondBootloaderLookMs = 3000;
// Between two passes of a download that did not reach its end.
inline constexpr std::int64_t kBetweenDownloadPassesMs = 3000;
// When an FPGA run has ended, before the poll that saw it ends and the box is looked at again.
inline constexpr std::int64_t kAfterFpgaRunMs = 3500;

}  // namespace ZELKUtil::Waits
