#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace ZELKUtil {

// Hands each line of a child's captured output (anything with ReadLine; null: no output) to
// onLine on a reader thread of its own, then calls onEnd there. A line that onLine cannot take yet
// (it answers false) is offered again after a short pause, so the reader holds one line at most.
// The thread owns the output and may outlive the child's object. Without a thread the lines cannot
// be read without blocking the caller: the output is then noted as ended at once, so that nobody
// waits for lines that never come.
template <typename Output>
void DeliverLinesOnThread(std::unique_ptr<Output> output,
                          std::function<bool(const std::string&)> onLine,
                          std::function<void()> onEnd) {
    struct Delivery {
        std::unique_ptr<Output> output;
        std::function<bool(const std::string&)> onLine;
        std::function<void()> onEnd;
    };
    auto delivery = std::make_shared<Delivery>(
        Delivery{std::move(output), std::move(onLine), std::move(onEnd)});
    try {
        std::thread([delivery] {
            if (delivery->output) {
                while (auto line = delivery->output->ReadLine()) {
                    while (delivery->onLine && !delivery->onLine(*line)) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                }
            }
            if (delivery->onEnd) {
                delivery->onEnd();
            }
        }).detach();
    } catch (const std::system_error&) {
        if (delivery->onEnd) {
            delivery->onEnd();
        }
    }
}

// A child's captured output (a pipe with ReadLine, ReadChar, LineReady and CharReady) as the
// child's object offers it: read by the caller, or handed once to a reader thread, after which it
// reads as ended. No pipe (output not captured) reads as ended from the start.
template <typename Pipe>
class CapturedOutput {
  public:
    explicit CapturedOutput(std::unique_ptr<Pipe> pipe) : pipe_(std::move(pipe)) {}

    std::optional<std::string> ReadLine() { return pipe_ ? pipe_->ReadLine() : std::nullopt; }
    int ReadChar() { return pipe_ ? pipe_->ReadChar() : -1; }
    bool LineReady() { return !pipe_ || pipe_->LineReady(); }
    bool CharReady() { return !pipe_ || pipe_->CharReady(); }
    void Deliver(std::function<bool(const std::string&)> onLine, std::function<void()> onEnd) {
        if (delivering_) {
            return;
        }
        delivering_ = true;
        DeliverLinesOnThread(std::move(pipe_), std::move(onLine), std::move(onEnd));
    }

  private:
    std::unique_ptr<Pipe> pipe_;
    bool delivering_ = false;
};

}  // namespace ZELKUtil
