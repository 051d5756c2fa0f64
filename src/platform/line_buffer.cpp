#include "platform/line_buffer.h"

namespace ZELKUtil {

void LineBuffer::DropSkipped() {
    buffer_.erase(0, Skip());
    if (!buffer_.empty()) {
        afterCr_ = false;
    }
}

bool LineBuffer::HasLine() const {
    return buffer_.find_first_of("\r\n", Skip()) != std::string::npos;
}

std::optional<std::string> LineBuffer::TakeLine(bool atEnd) {
    DropSkipped();
    const std::size_t end = buffer_.find_first_of("\r\n");
    if (end == std::string::npos) {
        if (!atEnd || buffer_.empty()) {
            return std::nullopt;
        }
        std::string line = std::move(buffer_);
        buffer_.clear();
        return line;
    }
    std::string line = buffer_.substr(0, end);
    std::size_t used = end + 1;
    if (buffer_[end] == '\r') {
        if (used < buffer_.size() && buffer_[used] == '\n') {
            ++used;
        } else if (used == buffer_.size()) {
            afterCr_ = true;
        }
    }
    buffer_.erase(0, used);
    return line;
}

int LineBuffer::TakeChar() {
    DropSkipped();
    if (buffer_.empty()) {
        return -1;
    }
    const auto c = static_cast<unsigned char>(buffer_.front());
    buffer_.erase(0, 1);
    return c;
}

}  // namespace ZELKUtil
