#pragma once

#include <functional>
#include <string>

#include "cli/console_view.h"

namespace ZELKUtil::Cli {

// The window without a display, telling whoever listens of every text added to its log as it is
// added (a download adds its progress marks inside one poll).
class ReportingView final : public View {
  public:
    explicit ReportingView(std::function<void()> appended) : appended_(std::move(appended)) {}

    const ConsoleView& State() const { return view_; }

    void AppendText(const std::string& text) override {
        view_.AppendText(text);
        appended_();
    }
    void Clear() override { view_.Clear(); }
    void Refresh() override { view_.Refresh(); }
    int LogHeight() const override { return view_.LogHeight(); }
    void SetLogHeight(int pixels) override { view_.SetLogHeight(pixels); }
    void SetText(Control label, const std::string& text) override { view_.SetText(label, text); }
    std::string Text(Control label) const override { return view_.Text(label); }
    bool Checked(Control box) const override { return view_.Checked(box); }
    void SetChecked(Control box, bool checked) override { view_.SetChecked(box, checked); }
    bool Enabled(Control box) const override { return view_.Enabled(box); }
    void SetEnabled(Control box, bool enabled) override { view_.SetEnabled(box, enabled); }
    bool Shown(Control control) const override { return view_.Shown(control); }
    void SetShown(Control control, bool shown) override { view_.SetShown(control, shown); }
    bool AddComboItem(const std::optional<std::string>& text, std::string* error) override {
        return view_.AddComboItem(text, error);
    }
    std::string ComboSelectedItem() const override { return view_.ComboSelectedItem(); }
    int ComboSelectedIndex() const override { return view_.ComboSelectedIndex(); }
    void SetComboSelectedIndex(int index) override { view_.SetComboSelectedIndex(index); }
    int ComboFindString(const std::string& text) const override {
        return view_.ComboFindString(text);
    }
    int ComboFindExact(const std::string& text) const override {
        return view_.ComboFindExact(text);
    }
    void SetComboSelectionHandler(std::function<void()> handler) override {
        view_.SetComboSelectionHandler(std::move(handler));
    }
    void StopTimer() override { view_.StopTimer(); }
    void StartTimer() override { view_.StartTimer(); }

  private:
    ConsoleView view_;
    std::function<void()> appended_;
};

}  // namespace ZELKUtil::Cli
