#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_transport.h"
#include "platform/posix/unique_fd.h"

// The system calls under the hidraw transport: a node opened with its lock, a read's deadline as
// poll() takes it, and the bytes of what the calls return.
namespace ZELKUtil::Hid::HidrawCalls {

using Clock = std::chrono::steady_clock;

// Opens the node for reading and writing and takes the lock; none with errno set and, when asked,
// the failed call named in *operation.
UniqueFd OpenLocked(const char* path, int lockOperation, const char** operation = nullptr);
// Notes why a node could not be opened, when the caller keeps such notes.
void NoteFailure(std::vector<HidOpenFailure>* failures, const std::string& path,
                 const char* operation, int error);
// When a read with this time-out gives up; none for kHidNoTimeout.
std::optional<Clock::time_point> DeadlineFor(std::uint32_t timeoutMs);
// Milliseconds for poll() until the deadline: -1 without one, 0 once it has passed.
int PollTimeout(const std::optional<Clock::time_point>& deadline);
// A copy that the caller frees with free(), as hid_device_info's strings are.
char* CopyString(const std::string& text);
// Removes a zero report-ID byte from the front of what a control request returned.
int StripReportId(unsigned char* data, int count);
// The device number of the character device the descriptor is open on; none (errno set) for any
// other file.
std::optional<dev_t> CharacterDeviceOf(int fd);

}  // namespace ZELKUtil::Hid::HidrawCalls
