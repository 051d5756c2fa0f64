#include "platform/output_stream.h"

#include <string_view>

namespace ZELKUtil {

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
        const std::optional<std::size_t> n = pipe_.readNow(chunk, sizeof chunk);
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
    if (!ended_ && !pipe_.await()) {
        ended_ = true;
    }
}

}  // namespace ZELKUtil
