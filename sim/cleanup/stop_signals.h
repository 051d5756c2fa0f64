#pragma once

#include "platform/result.h"

namespace ZELKSim {

// From here on a stop from outside (SIGINT, SIGTERM or SIGHUP; on Windows Ctrl+C, Ctrl+Break or
// the console closing) first removes the process's temporary folders, then ends the process as
// the stop would have. The removal runs on a thread of its own, never in a signal handler. Call it
// before any other thread starts, so that every thread inherits the blocked signals.
ZELKUtil::Result<void> RemoveTempFoldersOnStop();

}  // namespace ZELKSim
