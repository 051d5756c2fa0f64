#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/form_layout.h"
#include "app/log_lines.h"
#include "controller/view.h"
#include "hid/device_change_journal.h"
#include "hid/hotplug_source.h"
#include "platform/result.h"

namespace ZELKUtil {

// The utility's one window on Windows, built of the system's own controls. It shows what the
// controller tells it through the View operations and passes the operator's actions, the timer's
// ticks and the system's device-change messages on through the handlers the program installs.
// The window is Windows' hot-plug source too: the system tells it of device changes.
class UpdateForm final : public View, public Hid::HotplugSource {
  public:
    struct Handlers {
        std::function<void()> timerTick;
        std::function<void()> diagClick;
        std::function<void()> restartClick;
        std::function<void()> forceClick;
        std::function<void()> autoRingsClick;
        std::function<void(Key key, bool control)> keyDown;
        std::function<void()> dispose;
        // WM_DEVICECHANGE, whatever its event.
        std::function<void()> deviceChange;
    };

    struct Scale {
        double x = 1.0;
        double y = 1.0;
    };

    // scale: pixels per design pixel; by default taken from the system's message font (which the
    // system sizes for its DPI) against the design font cell of 6 x 13. The window is created
    // hidden; Created() tells whether that worked.
    explicit UpdateForm(std::optional<Scale> scale = std::nullopt);
    ~UpdateForm() override;
    UpdateForm(const UpdateForm&) = delete;
    UpdateForm& operator=(const UpdateForm&) = delete;

    bool Created() const { return hwnd_ != nullptr; }
    // Why the window could not be created, with the system's text.
    const std::string& Error() const { return error_; }
    void SetHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    // Tells the journal of every WM_DEVICECHANGE before the handler runs, so that the backends
    // read the device tree afresh in the poll it starts. The journal keeps nothing unless both
    // device-interface classes are registered, and nothing once the window is gone.
    void Inform(Hid::DeviceChangeJournal& journal) override;
    // Whether both device-interface classes are registered for WM_DEVICECHANGE; the system's
    // text of the registration that failed otherwise.
    Result<void> Opened() const override;
    void Show();

    // Runs the message loop until the window has been closed; returns the exit code.
    int Run();
    // One message of the loop: the key preview, then the dialog keys (Tab), then the control.
    void DispatchLoopMessage(MSG& msg);
    // Spends a wait of the window's thread keeping the window painting, its timer ticking and
    // device changes arriving, but runs no keyboard or mouse input: that waits in the queue until
    // the wait is over. A close asked for meanwhile is carried out after the outermost wait.
    void WaitKeepingWindowAlive(std::int64_t ms);

    // View.
    void AppendText(const std::string& text) override;
    void Clear() override;
    void Refresh() override;
    int LogHeight() const override;
    void SetLogHeight(int designPixels) override;
    void SetText(Control label, const std::string& text) override;
    std::string Text(Control label) const override;
    bool Checked(Control box) const override;
    void SetChecked(Control box, bool checked) override;
    bool Enabled(Control box) const override;
    void SetEnabled(Control box, bool enabled) override;
    bool Shown(Control control) const override;
    void SetShown(Control control, bool shown) override;
    bool AddComboItem(const std::optional<std::string>& text, std::string* error) override;
    std::string ComboSelectedItem() const override;
    int ComboSelectedIndex() const override;
    void SetComboSelectedIndex(int index) override;
    int ComboFindString(const std::string& text) const override;
    int ComboFindExact(const std::string& text) const override;
    void SetComboSelectionHandler(std::function<void()> handler) override;
    void StopTimer() override;
    void StartTimer() override;

    HWND Handle() const { return hwnd_; }
    HWND ControlHandle(Control control) const;
    Scale PixelScale() const { return scale_; }
    bool TimerRunning() const { return timerRunning_; }
    // The log exactly as appended, CR LF pairs and all.
    const std::string& LogText() const { return log_; }

  private:
    struct Placement {
        Rect rect;
        int windowWidth = 0;
        int windowHeight = 0;
    };
    static constexpr std::size_t kControls = std::size(kControlDesigns);
    static constexpr UINT_PTR kTimerId = 1;

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(WPARAM wParam);
    void OnClose();
    void PreviewKey(const MSG& msg);
    bool CreateWindowAndControls();
    HWND CreateControl(const ControlDesign& design);
    void RegisterDeviceNotifications();
    void MeasureFont();
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void SetClientSize(int width, int height);
    Rect ClientRect(HWND control) const;
    void Place(std::size_t index, const Rect& rect);
    void Rebase(std::size_t index);
    void ApplyAnchors();
    int TextWidth(const std::wstring& text) const;
    void FitLabel(Control label);
    void FitCheckBoxes();
    void FitComboHeight();
    std::size_t IndexOf(Control control) const;
    void CallHandler(const std::function<void()>& handler) const;

    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    Scale scale_;
    std::optional<Scale> requestedScale_;
    std::string error_;
    Handlers handlers_;
    std::function<void()> comboHandler_;
    std::array<HWND, kControls> controls_{};
    std::array<Placement, kControls> placements_{};
    std::array<std::string, kControls> texts_{};
    std::vector<std::wstring> comboItems_;
    std::vector<HDEVNOTIFY> notifications_;
    Result<void> notificationsRegistered_;
    Hid::DeviceChangeJournal* journal_ = nullptr;
    std::string log_;
    LogLines logLines_;
    bool timerRunning_ = false;
    int waitDepth_ = 0;
    bool closeAfterWait_ = false;
};

}  // namespace ZELKUtil
