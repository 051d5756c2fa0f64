#pragma once

#include <string>

namespace ZELKSim {

// The live demonstration: the real window on a copy of a demo package, with an emulated box that
// is older than the package plugged in, running in real time. A side panel unplugs and plugs the
// box and makes it send events. Without a display the same road runs with a console view that
// prints the log as it grows, and the program ends once the road is done.
// package: the package folder to copy, "" for the bundled demo package.
int RunDemo(int argc, char** argv, const std::string& package);

}  // namespace ZELKSim
