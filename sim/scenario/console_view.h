#pragma once

// The window without a display is the bench runner's too; the emulator uses it under its own
// names.
#include "cli/console_view.h"

namespace ZELKSim {

using ZELKUtil::Cli::ConsoleEcho;
using ZELKUtil::Cli::ConsoleView;
using ZELKUtil::Cli::ControlByName;
using ZELKUtil::Cli::ControlName;
using ZELKUtil::Cli::Quoted;
using ZELKUtil::Cli::TimeStamp;

}  // namespace ZELKSim
