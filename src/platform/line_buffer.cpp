#include "platform/line_buffer.h"

#include <algorithm>

namespace ZELKUtil {

void LineBuffer::Append(std::string_view text) {
    buffer_.append(text);
}

std::size_t LineBuffer::LineStart(bool forLine, After* after) const {
    std::size_t i = next_;
    After state = after_;
    while (i < buffer_.size()) {
        const char c = buffer_[i];
        if (c == '\n' && (state == After::LineCr || (forLine && state == After::CharCr))) {
            ++i;
            state = After::Nothing;
        } else if (forLine && state == After::Piece && (c == '\r' || c == '\n')) {
            ++i;
            state = c == '\r' ? After::LineCr : After::Nothing;
        } else {
            break;
        }
    }
    if (after != nullptr) {
        *after = state;
    }
    return i;
}

std::size_t LineBuffer::LineLength(std::size_t start) const {
    const std::size_t available = buffer_.size() - start;
    // Only as far as one piece reaches, and not again over what an earlier search found without
    // a line end: text that comes in many small reads is searched once.
    const std::size_t limit = start + std::min(available, kMaxPiece + 1);
    const std::size_t from = std::max(start, std::min(searched_, limit));
    const std::size_t end = std::string_view(buffer_).substr(0, limit).find_first_of("\r\n", from);
    if (end != std::string_view::npos) {
        return end - start;
    }
    searched_ = limit;
    return available >= kMaxPiece ? kMaxPiece : std::string::npos;
}

void LineBuffer::Consume(std::size_t upTo) {
    next_ = upTo;
    if (next_ == buffer_.size()) {
        buffer_.clear();
        next_ = 0;
        searched_ = 0;
    } else if (next_ >= kMaxPiece && next_ * 2 >= buffer_.size()) {
        // Dropping what was handed out only now and then keeps the cost linear.
        buffer_.erase(0, next_);
        searched_ = searched_ > next_ ? searched_ - next_ : 0;
        next_ = 0;
    }
}

bool LineBuffer::HasLine() const {
    return LineLength(LineStart(true)) != std::string::npos;
}

std::optional<std::string> LineBuffer::TakeLine(bool atEnd) {
    After state = After::Nothing;
    const std::size_t start = LineStart(true, &state);
    const std::size_t length = LineLength(start);
    if (length != std::string::npos) {
        std::string line = buffer_.substr(start, length);
        const std::size_t end = start + length;
        if (end < buffer_.size() && (buffer_[end] == '\r' || buffer_[end] == '\n')) {
            after_ = buffer_[end] == '\r' ? After::LineCr : After::Nothing;
            Consume(end + 1);
        } else {
            after_ = After::Piece;
            Consume(end);
        }
        return line;
    }
    if (atEnd && start < buffer_.size()) {
        std::string line = buffer_.substr(start);
        after_ = After::Nothing;
        Consume(buffer_.size());
        return line;
    }
    after_ = state;
    Consume(start);
    return std::nullopt;
}

int LineBuffer::TakeChar() {
    After state = After::Nothing;
    const std::size_t start = LineStart(false, &state);
    if (start >= buffer_.size()) {
        after_ = state;
        Consume(start);
        return -1;
    }
    const auto c = static_cast<unsigned char>(buffer_[start]);
    after_ = c == '\r' ? After::CharCr : After::Nothing;
    Consume(start + 1);
    return c;
}

}  // namespace ZELKUtil
