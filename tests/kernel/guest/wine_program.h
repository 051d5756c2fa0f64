#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ZELKKernelTest {

// A Windows program's run under the guest's Wine (one Wine server for the whole run, started
// before the rig). Its standard input and output are pipes: a line it writes that begins with
// "@rig " asks the rig to change the world (unplug the box, hold its reports) and is answered with
// one line on its standard input once that is done; every other line goes to the console, marked
// as the program's, and is kept.
struct WineRun {
    // The program's exit code; -1 when it had to be killed at its time-out or could not start.
    int status = -1;
    std::string failure;  // why the run failed, when it did
    std::vector<std::string> lines;
};

// onRequest gets the request without "@rig " and returns the answer line.
WineRun RunUnderWine(const std::vector<std::string>& command, const std::string& folder,
                     const std::function<std::string(const std::string&)>& onRequest,
                     int timeoutMs);

// The Windows name (Z:\...) of a file of the host's tree, as Wine's Z: drive shows it.
std::string WindowsPath(const std::string& path);

}  // namespace ZELKKernelTest
