#include "cli/console_lines.h"

#include <ostream>

namespace ZELKUtil::Cli {

void ConsoleLines::NoteClosed(std::ostream& stream, std::ostream& other, const char* name,
                              std::atomic<bool>& told) {
    if (noteClosed_ && !stream && !told.exchange(true)) {
        other << "zelk-cli: " << name << " is closed; the runs go on and keep their records"
              << std::endl;
    }
}

void ConsoleLines::Out(const std::string& line) {
    out_ << line << std::endl;
    NoteClosed(out_, err_, "standard output", outClosedTold_);
}

void ConsoleLines::Err(const std::string& line) {
    err_ << line << std::endl;
    NoteClosed(err_, out_, "the error stream", errClosedTold_);
}

void ConsoleLines::Raw(const std::string& text) {
    out_ << text << std::flush;
    NoteClosed(out_, err_, "standard output", outClosedTold_);
}

bool ConsoleLines::OutTookAll() {
    out_.flush();
    return static_cast<bool>(out_);
}

void StopRequests::TellWaitingBy(std::function<std::string()> waiting) {
    const std::lock_guard<std::mutex> lock(lock_);
    waiting_ = std::move(waiting);
}

std::string StopRequests::Request(bool terminate) {
    const bool first = !stopping_.exchange(true);
    if (first && !terminate) {
        return "zelk-cli: stopping: the runs under way finish first (Ctrl+C again tells what for)";
    }
    const std::lock_guard<std::mutex> lock(lock_);
    const std::string waiting = waiting_ ? waiting_() : "nothing";
    return "zelk-cli: stopping; waiting for " + waiting;
}

void StopRequests::TellUnderwayBy(std::function<void(const std::string& why)> note) {
    const std::lock_guard<std::mutex> lock(lock_);
    noteUnderway_ = std::move(note);
}

void StopRequests::Closing(const std::string& why) {
    stopping_ = true;
    const std::lock_guard<std::mutex> lock(lock_);
    if (noteUnderway_) {
        noteUnderway_(why);
    }
}

}  // namespace ZELKUtil::Cli
