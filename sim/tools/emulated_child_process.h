#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/line_buffer.h"
#include "time/timeline.h"
#include "tools/emulated_tools.h"

namespace ZELKSim {

// A running emulated tool. Its steps run on the timeline (on the clock's worker thread in real
// time), its reader on the caller's thread, so everything it holds is guarded.
struct EmulatedProcessService::Child : ZELKUtil::ChildProcess {
    Child(Timeline& timeline, std::function<void()> onExit)
        : timeline_(timeline), onExit_(std::move(onExit)) {}

    // A wait for the tool that nothing but the tool ends.
    static constexpr std::int64_t kForever = std::numeric_limits<std::int64_t>::max() / 4;

    void Emit(const std::string& text) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            buffer_.Append(text);
        }
        Pump();
        timeline_.Notify();
    }
    void EndOutput() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (ended_) {
                return;
            }
            ended_ = true;
        }
        Pump();
        timeline_.Notify();
    }
    void Exit(std::uint32_t code = 0) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (exited_) {
                return;
            }
            exited_ = true;
            exitCode_ = code;
        }
        if (onExit_) {
            onExit_();
        }
        timeline_.Notify();
    }
    // Exited, read to the end and every line delivered: nothing of it is still to come.
    bool Finished() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return exited_ && ended_ && (!delivering_ || endTold_) && !pumpScheduled_;
    }

    std::optional<std::string> ReadLine() override {
        (void)timeline_.WaitUntil(kForever, [this] { return LineReady(); });
        const std::lock_guard<std::mutex> lock(mutex_);
        return buffer_.TakeLine(ended_);
    }
    int ReadChar() override {
        (void)timeline_.WaitUntil(kForever, [this] { return OutputReady(); });
        const std::lock_guard<std::mutex> lock(mutex_);
        return buffer_.TakeChar();
    }
    bool LineReady() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ended_ || buffer_.HasLine();
    }
    bool OutputReady() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ended_ || buffer_.HasText();
    }
    void DeliverLines(std::function<bool(const std::string&)> onLine,
                      std::function<void()> onEnd) override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            delivering_ = true;
            onLine_ = std::move(onLine);
            onEnd_ = std::move(onEnd);
        }
        Pump();
    }
    bool HasExited() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return exited_;
    }
    void WaitForExit() override {
        (void)timeline_.WaitUntil(kForever, [this] { return HasExited(); });
    }
    std::optional<std::uint32_t> ExitCode() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return exited_ ? std::optional<std::uint32_t>(exitCode_) : std::nullopt;
    }

  private:
    static constexpr std::int64_t kRedeliveryMs = 10;

    // Offers the waiting lines to the taker one at a time, outside the lock and in order (one
    // thread pumps at a time and takes what comes meanwhile too); a line it cannot take yet is
    // offered again a little later, before any other. The end is told once, after every line has
    // been taken.
    void Pump() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (pumping_) {
                return;
            }
            pumping_ = true;
        }
        for (;;) {
            std::optional<std::string> line;
            std::function<bool(const std::string&)> onLine;
            std::function<void()> onEnd;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (delivering_ && !pumpScheduled_) {
                    line = buffer_.TakeLine(ended_);
                }
                if (!line) {
                    if (delivering_ && !pumpScheduled_ && ended_ && !endTold_) {
                        endTold_ = true;
                        onEnd = onEnd_;
                    }
                    pumping_ = false;
                }
                onLine = onLine_;
            }
            if (!line) {
                if (onEnd) {
                    onEnd();
                }
                return;
            }
            if (onLine && !onLine(*line)) {
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    held_ = std::move(line);
                    pumpScheduled_ = true;
                    pumping_ = false;
                }
                ScheduleRedelivery();
                return;
            }
        }
    }
    void ScheduleRedelivery() {
        timeline_.ScheduleAt(this, timeline_.NowMs() + kRedeliveryMs, [this] { Redeliver(); });
    }
    void Redeliver() {
        std::optional<std::string> line;
        std::function<bool(const std::string&)> onLine;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            line = std::move(held_);
            held_.reset();
            onLine = onLine_;
        }
        if (line && onLine && !onLine(*line)) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                held_ = std::move(line);
            }
            ScheduleRedelivery();
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            pumpScheduled_ = false;
        }
        Pump();
    }

    Timeline& timeline_;
    std::function<void()> onExit_;
    std::mutex mutex_;
    ZELKUtil::LineBuffer buffer_;
    bool ended_ = false;
    bool exited_ = false;
    std::uint32_t exitCode_ = 0;
    bool delivering_ = false;
    bool endTold_ = false;
    // A line the taker could not take yet, and its next offer is scheduled.
    std::optional<std::string> held_;
    bool pumpScheduled_ = false;
    bool pumping_ = false;
    std::function<bool(const std::string&)> onLine_;
    std::function<void()> onEnd_;
};

// What the service hands out: the child lives on in the service (children outlive whoever
// started them), the caller holds a view of it.
class ChildHandle final : public ZELKUtil::ChildProcess {
  public:
    explicit ChildHandle(std::shared_ptr<EmulatedProcessService::Child> child)
        : child_(std::move(child)) {}
    std::optional<std::string> ReadLine() override { return child_->ReadLine(); }
    int ReadChar() override { return child_->ReadChar(); }
    bool LineReady() override { return child_->LineReady(); }
    bool OutputReady() override { return child_->OutputReady(); }
    void DeliverLines(std::function<bool(const std::string&)> onLine,
                      std::function<void()> onEnd) override {
        child_->DeliverLines(std::move(onLine), std::move(onEnd));
    }
    bool HasExited() override { return child_->HasExited(); }
    void WaitForExit() override { child_->WaitForExit(); }
    std::optional<std::uint32_t> ExitCode() override { return child_->ExitCode(); }

  private:
    std::shared_ptr<EmulatedProcessService::Child> child_;
};

}  // namespace ZELKSim
