#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "controller/view.h"

namespace ZELKUtil {

// The window without a display: it keeps every piece of window state the controller reads or
// sets, with the window's own semantics (the texts, visibility and ticks the window starts with;
// the combo's find ignoring letter case, its selection handler run on a changed index, its refusal
// of an absent item). The state is open for whoever drives the window (a bench run, scenario runs
// and tests) to read; the text, tick and log changes may be overridden to be watched as they
// happen.
class HeadlessView : public View {
  public:
    HeadlessView();

    // Told after every text added to the log (a download adds its marks inside one poll).
    void SetAppendListener(std::function<void()> appended) { appended_ = std::move(appended); }

    void AppendText(const std::string& text) override;
    void Clear() override;
    void Refresh() override { ++refreshes; }
    int LogHeight() const override { return logHeight; }
    void SetLogHeight(int pixels) override { logHeight = pixels; }
    void SetText(Control label, const std::string& text) override;
    std::string Text(Control label) const override;
    bool Checked(Control box) const override;
    void SetChecked(Control box, bool checked) override;
    bool Enabled(Control box) const override;
    void SetEnabled(Control box, bool enabled) override { enabled_[box] = enabled; }
    bool Shown(Control control) const override;
    void SetShown(Control control, bool shown) override { shown_[control] = shown; }
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
    std::function<void()> appended_;
    std::map<Control, std::string> texts_;
    std::map<Control, bool> checked_;
    std::map<Control, bool> enabled_;
    std::map<Control, bool> shown_;
    int selected_ = -1;
    std::function<void()> handler_;
};

}  // namespace ZELKUtil
