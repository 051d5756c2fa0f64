#pragma once

#include <chrono>
#include <functional>
#include <memory>
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

}  // namespace ZELKUtil
