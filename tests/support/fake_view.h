#pragma once

#include <map>
#include <string>
#include <vector>

#include "controller/view.h"

namespace ZELKUtil::Testing {

// The window as the controller sees it, in memory: the same semantics as the Qt window (initial
// texts, visibility and ticks; the combo's case-insensitive find, its selection handler, its
// refusal of an absent item), plus a record of what happened for the tests to read.
class FakeView final : public View {
  public:
    FakeView();

    void AppendText(const std::string& text) override { log += text; }
    void Clear() override { log.clear(); }
    void Refresh() override { ++refreshes; }
    int LogHeight() const override { return logHeight; }
    void SetLogHeight(int pixels) override { logHeight = pixels; }
    void SetText(Control label, const std::string& text) override;
    std::string Text(Control label) const override;
    bool Checked(Control box) const override;
    void SetChecked(Control box, bool checked) override { checked_[box] = checked; }
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

    std::string log;
    int logHeight = 239;
    int refreshes = 0;
    bool timerRunning = true;
    // Every timer stop and start, in order: "stop", "start".
    std::vector<std::string> timerEvents;
    std::vector<std::string> comboItems;

  private:
    std::map<Control, std::string> texts_;
    std::map<Control, bool> checked_;
    std::map<Control, bool> enabled_;
    std::map<Control, bool> shown_;
    int selected_ = -1;
    std::function<void()> handler_;
};

}  // namespace ZELKUtil::Testing
