#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSize>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "app/form_layout.h"
#include "app/log_lines.h"
#include "controller/view.h"

namespace ZELKUtil {

// The utility's one window. It shows what the controller tells it through the View operations and
// passes the operator's actions and the timer's ticks on through the handlers the program installs.
class UpdateForm final : public QWidget, public View {
  public:
    struct Handlers {
        std::function<void()> timerTick;
        std::function<void()> diagClick;
        std::function<void()> restartClick;
        std::function<void()> forceClick;
        std::function<void()> autoRingsClick;
        std::function<void(Key key, bool control)> keyDown;
        std::function<void()> dispose;
    };

    // scale: pixels per design pixel; by default taken from the window font against the design
    // font cell of 6 x 13.
    explicit UpdateForm(std::optional<QSizeF> scale = std::nullopt, QWidget* parent = nullptr);
    ~UpdateForm() override;
    UpdateForm(const UpdateForm&) = delete;
    UpdateForm& operator=(const UpdateForm&) = delete;

    void SetHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    // Spends a wait of the window's thread running the event loop without user input, so that the
    // window keeps painting and notifications are read, while the operator cannot act mid-poll:
    // a click or a close waits in the queue until the wait is over.
    void WaitKeepingWindowAlive(std::int64_t ms);

    // View.
    void AppendText(const std::string& text) override;
    void Clear() override;
    void Refresh() override;
    // In pixels of the design scale, as every other geometry figure the controller knows.
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

    // The control's widget, for tests and for the demo's side panel.
    QWidget* Widget(Control control) const;
    QTimer* Timer() const { return TimerCheck; }
    // The log exactly as appended, CR LF pairs and all.
    const std::string& LogText() const { return log_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Where a control stands, and the window size it stood there for: anchoring keeps the
    // distances to the anchored edges of that moment.
    struct Placement {
        QWidget* widget = nullptr;
        unsigned anchors = 0;
        QRect rect;
        QSize windowSize;
    };

    void InitializeComponent();
    // The controls, in the order the window makes them.
    void CreateStatusControls();
    void CreateRunControls();
    void CreateServiceControls();
    QPushButton* MakeButton(const char* name, const char* text,
                            std::function<void()> Handlers::*handler);
    // At the control's design place, scaled.
    void Place(QWidget* widget, Control control);
    void Rebase(QWidget* widget);
    void ApplyAnchors();
    void FitLabel(QLabel* label);
    void FitCheckBoxes();
    QLabel* LabelFor(Control label) const;
    QCheckBox* BoxFor(Control box) const;

    QSizeF scale_;
    Handlers handlers_;
    std::function<void()> comboHandler_;
    std::map<QWidget*, Placement> placements_;
    std::string log_;
    LogLines logLines_;
    static constexpr qint64 kRepaintIntervalMs = 15;
    QElapsedTimer lastRepaint_;
    bool layingOut_ = false;

    QLabel* DeviceLabel = nullptr;
    QPlainTextEdit* TextOutput = nullptr;
    QLabel* TextUpgradeVersion = nullptr;
    QTimer* TimerCheck = nullptr;
    QCheckBox* CheckProgramArm = nullptr;
    QCheckBox* CheckProgramFPGA = nullptr;
    QPushButton* ButtonDiag = nullptr;
    QPushButton* buttonRestart = nullptr;
    QComboBox* ComboZelkType = nullptr;
    QLabel* LabelMode = nullptr;
    QPushButton* ButtonForce = nullptr;
    QPushButton* ButtonAutoRings = nullptr;
    QLabel* LabelEye = nullptr;
};

}  // namespace ZELKUtil
