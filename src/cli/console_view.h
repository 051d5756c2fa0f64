#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "controller/view.h"

namespace ZELKUtil::Cli {

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

// The window without a display: it keeps every piece of window state the controller reads or
// sets, with the window's own semantics (the texts, visibility and ticks the window starts with;
// the combo's find ignoring letter case, its selection handler run on a changed index, its refusal
// of an absent item). The state is open for whoever drives the window (scenario runs and tests)
// to read.
class ConsoleView final : public ZELKUtil::View {
  public:
    explicit ConsoleView(ConsoleEcho echo = {});

    void SetEcho(ConsoleEcho echo) { echo_ = std::move(echo); }
    // Told after every text added to the log (a download adds its marks inside one poll).
    void SetAppendListener(std::function<void()> appended) { appended_ = std::move(appended); }

    void AppendText(const std::string& text) override;
    void Clear() override;
    void Refresh() override { ++refreshes; }
    int LogHeight() const override { return logHeight; }
    void SetLogHeight(int pixels) override { logHeight = pixels; }
    void SetText(ZELKUtil::Control label, const std::string& text) override;
    std::string Text(ZELKUtil::Control label) const override;
    bool Checked(ZELKUtil::Control box) const override;
    void SetChecked(ZELKUtil::Control box, bool checked) override;
    bool Enabled(ZELKUtil::Control box) const override;
    void SetEnabled(ZELKUtil::Control box, bool enabled) override { enabled_[box] = enabled; }
    bool Shown(ZELKUtil::Control control) const override;
    void SetShown(ZELKUtil::Control control, bool shown) override { shown_[control] = shown; }
    bool AddComboItem(const std::optional<std::string>& text, std::string* error) override;
    std::string ComboSelectedItem() const override;
    int ComboSelectedIndex() const override { return selected_; }
    void SetComboSelectedIndex(int index) override;
    int ComboFindString(const std::string& text) const override;
    int ComboFindExact(const std::string& text) const override;
    void SetComboSelectionHandler(std::function<void()> handler) override {
        handler_ = std::move(handler);
    }
    void StopTimer() override;
    void StartTimer() override;

    // The window's state as it stands.
    std::string log;
    int logHeight = kInitialLogHeight;
    int refreshes = 0;
    bool timerRunning = true;
    // Every timer stop and start, in order: "stop", "start".
    std::vector<std::string> timerEvents;
    std::vector<std::string> comboItems;

    static constexpr int kInitialLogHeight = 239;

  private:
    // One echoed event: a stamped line when tracing, else plain text on a line of its own.
    void EchoEvent(const std::string& what);

    ConsoleEcho echo_;
    std::function<void()> appended_;
    // The plain echo has just ended a line (or written nothing yet).
    bool atLineStart_ = true;
    std::map<ZELKUtil::Control, std::string> texts_;
    std::map<ZELKUtil::Control, bool> checked_;
    std::map<ZELKUtil::Control, bool> enabled_;
    std::map<ZELKUtil::Control, bool> shown_;
    int selected_ = -1;
    std::function<void()> handler_;
};

// The controls' names as the window names them, and back; nullopt for an unknown name.
const char* ControlName(ZELKUtil::Control control);
std::optional<ZELKUtil::Control> ControlByName(const std::string& name);

// A text with its control characters, backslashes and double quotes written as C escapes (\r, \n,
// \t, \\, \", \xNN), in double quotes: one line that shows exactly what the text holds.
std::string Quoted(const std::string& text);

// "[    12.345] " for a time in milliseconds.
std::string TimeStamp(std::int64_t ms);

}  // namespace ZELKUtil::Cli
