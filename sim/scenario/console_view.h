#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "controller/headless_view.h"

namespace ZELKSim {

// Where a console view echoes what happens to the window while it happens.
struct ConsoleEcho {
    // No stream: no echo.
    std::ostream* out = nullptr;
    // Echo label texts and check-box ticks as they change, not only the log.
    bool controls = false;
    // With a time source every event is one line stamped with the time and texts are shown
    // escaped (a trace); without it the log's text goes out exactly as it comes, the way a
    // terminal shows a live run.
    std::function<std::int64_t()> now;
};

// The window without a display that also writes what happens to it on a console: the trace of a
// scenario run, the live demo's output, a real-kernel test's log.
class ConsoleView final : public ZELKUtil::HeadlessView {
  public:
    explicit ConsoleView(ConsoleEcho echo = {}) : echo_(std::move(echo)) {}

    void SetEcho(ConsoleEcho echo) { echo_ = std::move(echo); }

    void AppendText(const std::string& text) override;
    void Clear() override;
    void SetText(ZELKUtil::Control label, const std::string& text) override;
    void SetChecked(ZELKUtil::Control box, bool checked) override;

  private:
    // One echoed event: a stamped line when tracing, else plain text on a line of its own.
    void EchoEvent(const std::string& what);
    bool EchoesControls() const { return echo_.controls || echo_.now; }

    ConsoleEcho echo_;
    // The plain echo has just ended a line (or written nothing yet).
    bool atLineStart_ = true;
};

// The controls' names as the window names them, and back; nullopt for an unknown name.
const char* ControlName(ZELKUtil::Control control);
std::optional<ZELKUtil::Control> ControlByName(const std::string& name);

// A text with its control characters, backslashes and double quotes written as C escapes (\r, \n,
// \t, \\, \", \xNN), in double quotes: one line that shows exactly what the text holds.
std::string Quoted(const std::string& text);

// "[    12.345] " for a time in milliseconds.
std::string TimeStamp(std::int64_t ms);

}  // namespace ZELKSim
