#pragma once

#include <functional>
#include <optional>
#include <string>

namespace ZELKUtil {

// The window's controls that the controller reaches, named as the window names them.
enum class Control {
    DeviceLabel,
    TextOutput,
    TextUpgradeVersion,
    CheckProgramArm,
    CheckProgramFPGA,
    ButtonDiag,
    buttonRestart,
    ComboZelkType,
    LabelMode,
    ButtonForce,
    ButtonAutoRings,
    LabelEye,
};

// The keys the operator's shortcuts use, by key code: Shift and Caps Lock change nothing.
enum class Key { M, S, Backspace, Other };

// Every operation through which the controller touches the window. The Qt window implements it;
// tests use a fake with the same semantics, and the emulator a console view. Nothing else of the
// window is visible to the controller.
class View {
  public:
    virtual ~View() = default;

    // TextOutput, the log.
    // Adds the text exactly at the end of the log (CR LF pairs start new lines, nothing else does)
    // and brings the end into view.
    virtual void AppendText(const std::string& text) = 0;
    virtual void Clear() = 0;
    // Repaints the log at once while the window's thread is busy.
    virtual void Refresh() = 0;
    // The log's height in pixels of the design scale (the window scales them with its font).
    virtual int LogHeight() const = 0;
    virtual void SetLogHeight(int pixels) = 0;

    // DeviceLabel, LabelMode, LabelEye, TextUpgradeVersion.
    virtual void SetText(Control label, const std::string& text) = 0;
    virtual std::string Text(Control label) const = 0;

    // CheckProgramArm, CheckProgramFPGA. Setting the tick raises nothing the controller handles and
    // works on hidden and disabled boxes alike.
    virtual bool Checked(Control box) const = 0;
    virtual void SetChecked(Control box, bool checked) = 0;
    virtual bool Enabled(Control box) const = 0;
    virtual void SetEnabled(Control box, bool enabled) = 0;

    // Any control of the window.
    virtual bool Shown(Control control) const = 0;
    virtual void SetShown(Control control, bool shown) = 0;

    // ComboZelkType.
    // Appends an item; an absent name (as opposed to an empty one) is refused: returns false and
    // the reason in *error.
    virtual bool AddComboItem(const std::optional<std::string>& text, std::string* error) = 0;
    // The text of the selected item, "" when none is selected.
    virtual std::string ComboSelectedItem() const = 0;
    virtual int ComboSelectedIndex() const = 0;
    // Setting a different index runs the selection handler, as the operator's choice would.
    virtual void SetComboSelectedIndex(int index) = 0;
    // Index of the first item that begins with the text, letters compared ignoring case; -1 if
    // none.
    virtual int ComboFindString(const std::string& text) const = 0;
    // Index of the first item whose text equals the text exactly, letter case significant; -1 if
    // none.
    virtual int ComboFindExact(const std::string& text) const = 0;
    // The handler that runs whenever the selected item changes.
    virtual void SetComboSelectionHandler(std::function<void()> handler) = 0;

    // TimerCheck.
    virtual void StopTimer() = 0;
    // Starts the ticks again, the next one interval from now.
    virtual void StartTimer() = 0;
};

}  // namespace ZELKUtil
