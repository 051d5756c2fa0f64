#include "hid/linux/report_writer.h"

#include <unistd.h>

#include <cerrno>

namespace ZELKUtil::Hid {

ReportWriter::ReportWriter(int fd) : fd_(fd), thread_([this] { Run(); }) {}

ReportWriter::~ReportWriter() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

template <typename Predicate>
bool ReportWriter::WaitUntil(std::unique_lock<std::mutex>& lock, const Deadline& deadline,
                             Predicate done) {
    if (!deadline) {
        changed_.wait(lock, done);
        return true;
    }
    return changed_.wait_until(lock, *deadline, done);
}

ReportWriter::Outcome ReportWriter::Write(const unsigned char* data, std::size_t length,
                                          Deadline deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!WaitUntil(lock, deadline, [this] { return state_ == State::Idle; })) {
        return Outcome{true, -1, ETIMEDOUT};
    }
    report_.assign(data, data + length);
    state_ = State::Queued;
    changed_.notify_all();
    if (!WaitUntil(lock, deadline, [this] { return state_ == State::Done; })) {
        // A report not yet picked up is dropped; one being written goes out, unseen.
        state_ = state_ == State::Queued ? State::Idle : State::Abandoned;
        changed_.notify_all();
        return Outcome{true, -1, ETIMEDOUT};
    }
    state_ = State::Idle;
    changed_.notify_all();
    return outcome_;
}

void ReportWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || state_ == State::Queued; });
        if (state_ != State::Queued) {
            return;
        }
        state_ = State::Writing;
        const std::vector<unsigned char> report = report_;
        lock.unlock();
        ssize_t written = -1;
        do {
            written = ::write(fd_, report.data(), report.size());
        } while (written < 0 && errno == EINTR);
        const int errorNumber = written < 0 ? errno : 0;
        lock.lock();
        outcome_ = Outcome{false, written, errorNumber};
        state_ = state_ == State::Abandoned ? State::Idle : State::Done;
        changed_.notify_all();
    }
}

}  // namespace ZELKUtil::Hid
