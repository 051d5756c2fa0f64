#pragma once

#include <optional>
#include <string>

#include "platform/line_buffer.h"

namespace ZELKUtil {

// Reads a log file line by line while another program appends to it. A read at the end of the
// file gives no line; a later read gives what was appended since. A line is handed out once its
// end (CR, LF or CR LF) has been written; the last, unended line only when asked for the rest.
class LogFollower {
  public:
    LogFollower() = default;
    ~LogFollower();
    LogFollower(const LogFollower&) = delete;
    LogFollower& operator=(const LogFollower&) = delete;

    // Creates the file empty (replacing an earlier one) and opens it for reading. False with the
    // reason in *error on failure.
    bool Start(const std::string& path, std::string* error);
    // The next complete line without its end; with rest set, also a final line without an end.
    // nullopt when nothing (more) is there; a read failure sets *error and gives nullopt.
    std::optional<std::string> NextLine(bool rest, std::string* error);
    void Close();

  private:
    bool Fill(std::string* error);

#ifdef _WIN32
    void* file_ = nullptr;  // a HANDLE
#else
    int fd_ = -1;
#endif
    LineBuffer lines_;
};

}  // namespace ZELKUtil
