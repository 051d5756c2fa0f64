#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ZELKUtil::Hid {

// Writes reports to one hidraw node on a thread of its own. hidraw's write() is synchronous and
// can block for seconds on a stuck device, and poll() always calls the node writable, so this is
// how a write is given a deadline: the caller stops waiting at the deadline while the write goes
// on, and the node is not written again until that write has returned.
class ReportWriter {
  public:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    struct Outcome {
        bool timedOut = false;
        ssize_t result = -1;  // bytes written, or -1 with errorNumber
        int errorNumber = 0;
    };

    explicit ReportWriter(int fd);
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;
    // Waits for a write in progress to return (the kernel bounds it).
    ~ReportWriter();

    // Writes the report, waiting until deadline at most (no deadline: without limit).
    Outcome Write(const unsigned char* data, std::size_t length, Deadline deadline);

  private:
    enum class State { Idle, Queued, Writing, Done, Abandoned };

    void Run();
    // Waits until done() holds or the deadline passes; false on the deadline.
    template <typename Predicate>
    bool WaitUntil(std::unique_lock<std::mutex>& lock, const Deadline& deadline, Predicate done);

    int fd_;
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Idle;
    bool stopping_ = false;
    std::vector<unsigned char> report_;
    Outcome outcome_;
    std::thread thread_;
};

}  // namespace ZELKUtil::Hid
