#pragma once

#include <cstdio>
#include <string>

#include "support/fake_view.h"

namespace ZELKKernelTest {

// The window for a run on the console: every text appended to the log is printed as it comes
// (so the guest's serial console shows the run), and the controls behave as the test suites'
// in-memory window does.
class ConsoleView final : public ZELKUtil::View {
  public:
    using Control = ZELKUtil::Control;

    void AppendText(const std::string& text) override {
        window.AppendText(text);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
    void Clear() override { window.Clear(); }
    void Refresh() override { window.Refresh(); }
    int LogHeight() const override { return window.LogHeight(); }
    void SetLogHeight(int pixels) override { window.SetLogHeight(pixels); }
    void SetText(Control label, const std::string& text) override { window.SetText(label, text); }
    std::string Text(Control label) const override { return window.Text(label); }
    bool Checked(Control box) const override { return window.Checked(box); }
    void SetChecked(Control box, bool checked) override { window.SetChecked(box, checked); }
    bool Enabled(Control box) const override { return window.Enabled(box); }
    void SetEnabled(Control box, bool enabled) override { window.SetEnabled(box, enabled); }
    bool Shown(Control control) const override { return window.Shown(control); }
    void SetShown(Control control, bool shown) override { window.SetShown(control, shown); }
    bool AddComboItem(const std::optional<std::string>& text, std::string* error) override {
        return window.AddComboItem(text, error);
    }
    std::string ComboSelectedItem() const override { return window.ComboSelectedItem(); }
    int ComboSelectedIndex() const override { return window.ComboSelectedIndex(); }
    void SetComboSelectedIndex(int index) override { window.SetComboSelectedIndex(index); }
    int ComboFindString(const std::string& text) const override {
        return window.ComboFindString(text);
    }
    int ComboFindExact(const std::string& text) const override {
        return window.ComboFindExact(text);
    }
    void SetComboSelectionHandler(std::function<void()> handler) override {
        window.SetComboSelectionHandler(std::move(handler));
    }
    void StopTimer() override { window.StopTimer(); }
    void StartTimer() override { window.StartTimer(); }

    ZELKUtil::Testing::FakeView window;
};

}  // namespace ZELKKernelTest
