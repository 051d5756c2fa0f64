#include "platform/output_stream.h"

#include <chrono>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace ZELKUtil {

OutputStream::OutputStream(std::unique_ptr<Pipe> pipe) : pipe_(std::move(pipe)), ended_(!pipe_) {}

bool OutputStream::LineReady() {
    Pull(true);
    return ended_ || lines_.HasLine();
}

bool OutputStream::CharReady() {
    Pull(false);
    return ended_ || lines_.HasText();
}

std::optional<std::string> OutputStream::ReadLine() {
    while (!LineReady()) {
        Await();
    }
    return lines_.TakeLine(ended_);
}

int OutputStream::ReadChar() {
    while (!CharReady()) {
        Await();
    }
    return lines_.TakeChar();
}

void OutputStream::Pull(bool forLine) {
    char chunk[16 * 1024];
    while (!ended_ && !(forLine ? lines_.HasLine() : lines_.HasText())) {
        const std::optional<std::size_t> n = pipe_->ReadNow(chunk, sizeof chunk);
        if (!n) {
            ended_ = true;
        } else if (*n == 0) {
            return;
        } else {
            lines_.Append(std::string_view(chunk, *n));
        }
    }
}

void OutputStream::Await() {
    if (!ended_ && !pipe_->Await()) {
        ended_ = true;
    }
}

void OutputStream::Deliver(std::function<bool(const std::string&)> onLine,
                           std::function<void()> onEnd) {
    if (delivered_) {
        return;
    }
    delivered_ = true;
    struct Delivery {
        OutputStream rest;
        std::function<bool(const std::string&)> onLine;
        std::function<void()> onEnd;
    };
    auto delivery = std::make_shared<Delivery>(
        Delivery{OutputStream(std::move(pipe_)), std::move(onLine), std::move(onEnd)});
    delivery->rest.lines_ = std::exchange(lines_, LineBuffer());
    delivery->rest.ended_ = std::exchange(ended_, true);
    try {
        std::thread([delivery] {
            while (auto line = delivery->rest.ReadLine()) {
                while (delivery->onLine && !delivery->onLine(*line)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
