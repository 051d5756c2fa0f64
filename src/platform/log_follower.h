#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/line_buffer.h"
#include "platform/result.h"

namespace ZELKUtil {

// Reads a log file line by line while another program appends to it. A read at the end of the
// file gives no line; a later read gives what was appended since. A line is handed out once its
// end (CR, LF or CR LF) has been written; the last, unended line only when asked for the rest.
class LogFollower {
  public:
    LogFollower();
    ~LogFollower();
    LogFollower(const LogFollower&) = delete;
    LogFollower& operator=(const LogFollower&) = delete;

    // Creates the file empty (replacing an earlier one) and opens it for reading. The error's
    // operation is the path.
    Result<void> Start(const std::string& path);
    // The next complete line without its end; with rest set, also a final line without an end.
    // nullopt when nothing (more) is there.
    Result<std::optional<std::string>> NextLine(bool rest);
    void Close();

  private:
    Result<void> Fill();

    // The open file as the system holds it; each platform's own. Null while none is open.
    struct File;
    std::unique_ptr<File> file_;
    LineBuffer lines_;
};

}  // namespace ZELKUtil
