#pragma once

#include <string>

namespace ZELKSim {

// The temporary folders this process has made and not yet removed (scenario packages, the demo's
// working copy). Their owners remove them when they go; this list lets an end that skips the
// owners' destructors (a stop signal, a run that must be cut short) remove them too.
void KeepTempFolder(const std::string& path);
void ForgetTempFolder(const std::string& path);

// Removes every folder still kept. Any thread may call it, but never a signal handler: it takes a
// lock and walks the file system.
void RemoveTempFolders();

// Removes the kept folders, flushes standard output and error, and ends the process with `status`
// at once, for a run whose threads cannot be stopped any other way.
[[noreturn]] void EndProcessNow(int status);

}  // namespace ZELKSim
