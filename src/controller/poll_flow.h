#pragma once

namespace ZELKUtil {

// What a step of the poll leaves to the steps after it: they run, or this poll is over.
enum class PollFlow { GoOn, Ended };

}  // namespace ZELKUtil
