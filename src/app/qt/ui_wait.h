#pragma once

#include <cstdint>

namespace ZELKUtil {

// Spends a wait of the window's thread running the event loop without user input, so that the
// window keeps painting and notifications are read, while the operator cannot act mid-poll.
void WaitKeepingWindowAlive(std::int64_t ms);

}  // namespace ZELKUtil
