#pragma once

#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace ZELKUtil {

// Hands each line of a child's captured output (anything with ReadLine; null: no output) to
// onLine on a reader thread of its own, then calls onEnd there. The thread owns the output and may
// outlive the child's object. Without a thread the lines cannot be read without blocking the
// caller: the output is then noted as ended at once, so that nobody waits for lines that never
// come.
template <typename Output>
void DeliverLinesOnThread(std::unique_ptr<Output> output,
                          std::function<void(const std::string&)> onLine,
                          std::function<void()> onEnd) {
    struct Delivery {
        std::unique_ptr<Output> output;
        std::function<void(const std::string&)> onLine;
        std::function<void()> onEnd;
    };
    auto delivery = std::make_shared<Delivery>(
        Delivery{std::move(output), std::move(onLine), std::move(onEnd)});
    try {
        std::thread([delivery] {
            if (delivery->output) {
                while (auto line = delivery->output->ReadLine()) {
                    if (delivery->onLine) {
                        delivery->onLine(*line);
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
