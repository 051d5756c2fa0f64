#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

namespace ZELKUtil::Cli {

// zelk-cli's standard output and error stream, a line each, flushed. A stream whose reader went
// away (`zelk-cli ... | head -3`) never ends the program: writes to it fail quietly, it is noted
// once on the other stream, and the runs under way go on to their records.
class ConsoleLines {
  public:
    // noteClosed: whether a stream that went away is noted on the other (a command that runs
    // boxes; one that only prints says in its own words that its output was lost).
    ConsoleLines(std::ostream& out, std::ostream& err, bool noteClosed = true)
        : out_(out), err_(err), noteClosed_(noteClosed) {}
    void Out(const std::string& line);
    void Err(const std::string& line);
    // Text for a terminal, as it is (the progress board's cursor movements).
    void Raw(const std::string& text);
    // Flushes standard output: whether it took everything written to it so far.
    bool OutTookAll();

  private:
    void NoteClosed(std::ostream& stream, std::ostream& other, const char* name,
                    std::atomic<bool>& told);

    std::ostream& out_;
    std::ostream& err_;
    bool noteClosed_ = true;
    std::atomic<bool> outClosedTold_{false};
    std::atomic<bool> errClosedTold_{false};
};

// What Ctrl+C and SIGTERM ask of zelk-cli. The first request stops new work (the runs under way
// finish); every later one, and SIGTERM, tells what the program still waits for.
class StopRequests {
  public:
    const std::atomic<bool>& Stopping() const { return stopping_; }
    // Who tells what the program waits for ("1-1 (downloading)").
    void TellWaitingBy(std::function<std::string()> waiting);
    // A request, from the signal's own thread: the line to show on the error stream.
    std::string Request(bool terminate);
    // Who notes the boxes under way when the process is about to be ended from outside.
    void TellUnderwayBy(std::function<void(const std::string& why)> note);
    // The process will be ended in a few seconds whatever it does (the Windows console closed):
    // nothing new starts, and every box under way is noted where it is.
    void Closing(const std::string& why);

  private:
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::function<std::string()> waiting_;
    std::function<void(const std::string&)> noteUnderway_;
};

}  // namespace ZELKUtil::Cli
