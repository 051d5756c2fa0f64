#include "platform/output_stream.h"

#include <utility>

namespace ZELKUtil {

std::optional<std::string> OutputStream::ReadLine() {
    std::string line;
    bool started = false;
    for (;;) {
        if (next_ == buffer_.size() && !Fill()) {
            if (started) {
                return line;
            }
            return std::nullopt;
        }
        if (std::exchange(afterCr_, AfterCr::Nothing) != AfterCr::Nothing &&
            buffer_[next_] == '\n') {
            ++next_;
            continue;
        }
        const std::size_t end = buffer_.find_first_of("\r\n", next_);
        if (end == std::string::npos) {
            line.append(buffer_, next_, std::string::npos);
            next_ = buffer_.size();
            started = true;
            continue;
        }
        line.append(buffer_, next_, end - next_);
        afterCr_ = buffer_[end] == '\r' ? AfterCr::LineEnded : AfterCr::Nothing;
        next_ = end + 1;
        return line;
    }
}

int OutputStream::ReadChar() {
    for (;;) {
        if (next_ == buffer_.size() && !Fill()) {
            return -1;
        }
        const char c = buffer_[next_++];
        const AfterCr before = std::exchange(afterCr_, AfterCr::Nothing);
        if (c == '\n' && before == AfterCr::LineEnded) {
            continue;
        }
        if (c == '\r') {
            afterCr_ = AfterCr::CharGiven;
        }
        return static_cast<unsigned char>(c);
    }
}

bool OutputStream::Fill() {
    if (ended_) {
        return false;
    }
    buffer_.resize(4096);
    next_ = 0;
    const std::size_t n = reader_(buffer_.data(), buffer_.size());
    if (n > 0) {
        buffer_.resize(n);
        return true;
    }
    buffer_.clear();
    ended_ = true;
    return false;
}

}  // namespace ZELKUtil
