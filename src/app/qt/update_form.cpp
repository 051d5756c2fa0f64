#include "app/qt/update_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTimer>

#include "controller/periods.h"

namespace ZELKUtil {
namespace {

QRect ToQt(const Rect& r) {
    return {r.x, r.y, r.width, r.height};
}

Rect FromQt(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

// Labels show a CR LF pair as one line break.
QString LabelText(const std::string& text) {
    QString s = ToQt(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

}  // namespace

UpdateForm::UpdateForm(std::optional<QSizeF> scale, QWidget* parent) : QWidget(parent) {
    if (scale) {
        scale_ = *scale;
    } else {
        const QFontMetricsF metrics(font());
        const qreal sx = metrics.averageCharWidth() / 6.0;
        const qreal sy = metrics.height() / 13.0;
        scale_ = QSizeF(sx > 0 ? sx : 1.0, sy > 0 ? sy : 1.0);
    }
    InitializeComponent();
    // Key preview: the window sees each key press before the control that has the focus.
    qApp->installEventFilter(this);
}

UpdateForm::~UpdateForm() {
    qApp->removeEventFilter(this);
}

void UpdateForm::InitializeComponent() {
    setObjectName(QStringLiteral("UpdateForm"));
    setWindowTitle(QStringLiteral("Orvanta Upgrade"));
    resize(qRound(kDesignWidth * scale_.width()), qRound(kDesignHeight * scale_.height()));

    // In this order: it is the order in which the window stacks them and the tab order counts.
    CreateStatusControls();
    CreateRunControls();
    CreateServiceControls();

    // Tab order: TextOutput 4, TextUpgradeVersion 5, the check boxes 6 and 7, ButtonDiag and
    // buttonRestart 8 (in creation order), ComboZelkType 9, LabelMode 10, ButtonForce 11,
    // ButtonAutoRings 12, LabelEye 13. Labels take no focus but keep their place.
    const QWidget* order[] = {DeviceLabel,      TextOutput,  TextUpgradeVersion, CheckProgramArm,
                              CheckProgramFPGA, ButtonDiag,  buttonRestart,      ComboZelkType,
                              LabelMode,        ButtonForce, ButtonAutoRings,    LabelEye};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
    }

    // Labels and check boxes size themselves to their text from the start, not only when a text
    // is set later.
    for (QLabel* label : {DeviceLabel, TextUpgradeVersion, LabelEye}) {
        FitLabel(label);
    }
    FitCheckBoxes();

    TimerCheck->start();
}

void UpdateForm::CreateStatusControls() {
    DeviceLabel = new QLabel(QStringLiteral("No device found"), this);
    DeviceLabel->setObjectName(QStringLiteral("DeviceLabel"));
    Place(DeviceLabel, Control::DeviceLabel);

    TextOutput = new QPlainTextEdit(this);
    TextOutput->setObjectName(QStringLiteral("TextOutput"));
    TextOutput->setReadOnly(true);
    TextOutput->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    TextOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    TextOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    TextOutput->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    TextOutput->setUndoRedoEnabled(false);
    Place(TextOutput, Control::TextOutput);

    TextUpgradeVersion = new QLabel(QStringLiteral("Upgrade Version"), this);
    TextUpgradeVersion->setObjectName(QStringLiteral("TextUpgradeVersion"));
    Place(TextUpgradeVersion, Control::TextUpgradeVersion);

    TimerCheck = new QTimer(this);
    TimerCheck->setObjectName(QStringLiteral("TimerCheck"));
    TimerCheck->setInterval(static_cast<int>(Periods::kPollMs));
    connect(TimerCheck, &QTimer::timeout, this, [this] {
        if (handlers_.timerTick) {
            handlers_.timerTick();
        }
    });
}

void UpdateForm::CreateRunControls() {
    CheckProgramArm = new QCheckBox(QStringLiteral("Program ARM"), this);
    CheckProgramArm->setObjectName(QStringLiteral("CheckProgramArm"));
    // The box is drawn right of its text.
    CheckProgramArm->setLayoutDirection(Qt::RightToLeft);
    CheckProgramArm->setChecked(true);
    CheckProgramArm->hide();
    Place(CheckProgramArm, Control::CheckProgramArm);

    CheckProgramFPGA = new QCheckBox(QStringLiteral("Program FPGA"), this);
    CheckProgramFPGA->setObjectName(QStringLiteral("CheckProgramFPGA"));
    CheckProgramFPGA->hide();
    Place(CheckProgramFPGA, Control::CheckProgramFPGA);

    ButtonDiag = MakeButton("ButtonDiag", "Get Stats", &Handlers::diagClick);
    Place(ButtonDiag, Control::ButtonDiag);
    buttonRestart = MakeButton("buttonRestart", "Start", &Handlers::restartClick);
    Place(buttonRestart, Control::buttonRestart);

    ComboZelkType = new QComboBox(this);
    ComboZelkType->setObjectName(QStringLiteral("ComboZelkType"));
    ComboZelkType->setEditable(true);
    // Typed text never becomes an item.
    ComboZelkType->setInsertPolicy(QComboBox::NoInsert);
    ComboZelkType->hide();
    Place(ComboZelkType, Control::ComboZelkType);
    connect(ComboZelkType, &QComboBox::currentIndexChanged, this, [this](int) {
        if (comboHandler_) {
            comboHandler_();
        }
    });

    LabelMode = new QLabel(this);
    LabelMode->setObjectName(QStringLiteral("LabelMode"));
    Place(LabelMode, Control::LabelMode);
}

void UpdateForm::CreateServiceControls() {
    ButtonForce = MakeButton("ButtonForce", "Boot", &Handlers::forceClick);
    ButtonForce->hide();
    Place(ButtonForce, Control::ButtonForce);

    ButtonAutoRings = MakeButton("ButtonAutoRings", "Enable Rings", &Handlers::autoRingsClick);
    ButtonAutoRings->hide();
    Place(ButtonAutoRings, Control::ButtonAutoRings);

    LabelEye = new QLabel(QStringLiteral("      "), this);
    LabelEye->setObjectName(QStringLiteral("LabelEye"));
    LabelEye->hide();
    Place(LabelEye, Control::LabelEye);
}

QPushButton* UpdateForm::MakeButton(const char* name, const char* text,
                                    std::function<void()> Handlers::*handler) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, handler] {
        if (handlers_.*handler) {
            (handlers_.*handler)();
        }
    });
    return b;
}

void UpdateForm::Place(QWidget* widget, Control control) {
    const ControlDesign& design = DesignOf(control);
    const QRect rect = ToQt(Scaled(design.rect, scale_.width(), scale_.height()));
    const QSize designWindow(qRound(kDesignWidth * scale_.width()),
                             qRound(kDesignHeight * scale_.height()));
    placements_[widget] = Placement{widget, design.anchors, rect, designWindow};
    widget->setGeometry(rect);
}

void UpdateForm::Rebase(QWidget* widget) {
    Placement& p = placements_.at(widget);
    p.rect = widget->geometry();
    p.windowSize = size();
}

void UpdateForm::ApplyAnchors() {
    for (auto& [widget, p] : placements_) {
        widget->setGeometry(ToQt(Anchored(FromQt(p.rect), p.anchors, width() - p.windowSize.width(),
                                          height() - p.windowSize.height())));
    }
}

void UpdateForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ApplyAnchors();
}

void UpdateForm::closeEvent(QCloseEvent* event) {
    TimerCheck->stop();
    if (handlers_.dispose) {
        handlers_.dispose();
    }
    event->accept();
}

bool UpdateForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && handlers_.keyDown) {
        // The event travels up from the focused control; handle it once, at its first receiver,
        // and only for this window.
        QWidget* focus = QApplication::focusWidget();
        auto* target = qobject_cast<QWidget*>(watched);
        const bool first = focus != nullptr ? watched == focus : watched == this;
        if (first && target != nullptr && (target == this || isAncestorOf(target))) {
            const auto* keyEvent = static_cast<QKeyEvent*>(event);
            Key key = Key::Other;
            switch (keyEvent->key()) {
                case Qt::Key_M:
                    key = Key::M;
                    break;
                case Qt::Key_S:
                    key = Key::S;
                    break;
                case Qt::Key_Backspace:
                    key = Key::Backspace;
                    break;
                default:
                    break;
            }
            handlers_.keyDown(key, (keyEvent->modifiers() & Qt::ControlModifier) != 0);
        }
    }
    // Never marks a key as handled: the focused control still gets it.
    return QWidget::eventFilter(watched, event);
}

void UpdateForm::AppendText(const std::string& text) {
    log_ += text;
    // The document knows paragraphs, not line ends.
    const std::string shown = logLines_.Shown(text, "\n");
    TextOutput->moveCursor(QTextCursor::End);
    TextOutput->insertPlainText(QString::fromStdString(shown));
    TextOutput->moveCursor(QTextCursor::End);
    TextOutput->ensureCursorVisible();
}

void UpdateForm::Clear() {
    log_.clear();
    logLines_.Reset();
    TextOutput->clear();
}

void UpdateForm::Refresh() {
    // A tool may give many lines in a moment; painting more often than the screen shows them
    // would only slow the reading. The event loop's next turn paints whatever is left.
    if (lastRepaint_.isValid() && lastRepaint_.elapsed() < kRepaintIntervalMs) {
        return;
    }
    TextOutput->viewport()->repaint();
    lastRepaint_.start();
}

int UpdateForm::LogHeight() const {
    return qRound(TextOutput->height() / scale_.height());
}

void UpdateForm::SetLogHeight(int designPixels) {
    QRect r = TextOutput->geometry();
    r.setHeight(qRound(designPixels * scale_.height()));
    TextOutput->setGeometry(r);
    Rebase(TextOutput);
}

QLabel* UpdateForm::LabelFor(Control label) const {
    switch (label) {
        case Control::DeviceLabel:
            return DeviceLabel;
        case Control::LabelMode:
            return LabelMode;
        case Control::LabelEye:
            return LabelEye;
        case Control::TextUpgradeVersion:
            return TextUpgradeVersion;
        default:
            return nullptr;
    }
}

QCheckBox* UpdateForm::BoxFor(Control box) const {
    switch (box) {
        case Control::CheckProgramArm:
            return CheckProgramArm;
        case Control::CheckProgramFPGA:
            return CheckProgramFPGA;
        default:
            return nullptr;
    }
}

void UpdateForm::FitCheckBoxes() {
    Rect arm = FromQt(CheckProgramArm->geometry());
    Rect fpga = FromQt(CheckProgramFPGA->geometry());
    FitCheckBoxPair(arm, fpga, CheckProgramArm->sizeHint().width(),
                    CheckProgramFPGA->sizeHint().width());
    CheckProgramArm->setGeometry(ToQt(arm));
    CheckProgramFPGA->setGeometry(ToQt(fpga));
    Rebase(CheckProgramArm);
    Rebase(CheckProgramFPGA);
}

void UpdateForm::FitLabel(QLabel* label) {
    // Labels size themselves to their text, keeping their place.
    QRect r = label->geometry();
    r.setSize(label->sizeHint());
    label->setGeometry(r);
    Rebase(label);
}

void UpdateForm::SetText(Control label, const std::string& text) {
    if (QLabel* l = LabelFor(label)) {
        l->setProperty("zelkText", ToQt(text));
        l->setText(LabelText(text));
        FitLabel(l);
    }
}

std::string UpdateForm::Text(Control label) const {
    const QLabel* l = LabelFor(label);
    if (l == nullptr) {
        return {};
    }
    // The text as it was set, line breaks as given, not as shown.
    const QVariant set = l->property("zelkText");
    return (set.isValid() ? set.toString() : l->text()).toStdString();
}

bool UpdateForm::Checked(Control box) const {
    const QCheckBox* b = BoxFor(box);
    return b != nullptr && b->isChecked();
}

void UpdateForm::SetChecked(Control box, bool checked) {
    if (QCheckBox* b = BoxFor(box)) {
        b->setChecked(checked);
    }
}

bool UpdateForm::Enabled(Control box) const {
    const QCheckBox* b = BoxFor(box);
    return b != nullptr && b->isEnabled();
}

void UpdateForm::SetEnabled(Control box, bool enabled) {
    if (QCheckBox* b = BoxFor(box)) {
        b->setEnabled(enabled);
    }
}

QWidget* UpdateForm::Widget(Control control) const {
    switch (control) {
        case Control::TextOutput:
            return TextOutput;
        case Control::ButtonDiag:
            return ButtonDiag;
        case Control::buttonRestart:
            return buttonRestart;
        case Control::ComboZelkType:
            return ComboZelkType;
        case Control::ButtonForce:
            return ButtonForce;
        case Control::ButtonAutoRings:
            return ButtonAutoRings;
        case Control::CheckProgramArm:
        case Control::CheckProgramFPGA:
            return BoxFor(control);
        default:
            return LabelFor(control);
    }
}

bool UpdateForm::Shown(Control control) const {
    // Whether the control itself is set to show, whether or not the window is on screen yet.
    const QWidget* w = Widget(control);
    return w != nullptr && !w->isHidden();
}

void UpdateForm::SetShown(Control control, bool shown) {
    if (QWidget* w = Widget(control)) {
        w->setVisible(shown);
    }
}

bool UpdateForm::AddComboItem(const std::optional<std::string>& text, std::string* error) {
    if (!text) {
        if (error != nullptr) {
            *error = "Value cannot be null.";
        }
        return false;
    }
    // Adding the first item to an empty list would select it; a new list has no selection, and
    // filling it must not run the selection handler.
    const QSignalBlocker quiet(ComboZelkType);
    const int selected = ComboZelkType->currentIndex();
    ComboZelkType->addItem(ToQt(*text));
    if (ComboZelkType->currentIndex() != selected) {
        ComboZelkType->setCurrentIndex(selected);
    }
    return true;
}

std::string UpdateForm::ComboSelectedItem() const {
    const int index = ComboZelkType->currentIndex();
    return index < 0 ? std::string() : ComboZelkType->itemText(index).toStdString();
}

int UpdateForm::ComboSelectedIndex() const {
    return ComboZelkType->currentIndex();
}

void UpdateForm::SetComboSelectedIndex(int index) {
    ComboZelkType->setCurrentIndex(index);
}

int UpdateForm::ComboFindString(const std::string& text) const {
    const QString wanted = ToQt(text);
    for (int i = 0; i < ComboZelkType->count(); ++i) {
        if (ComboZelkType->itemText(i).startsWith(wanted, Qt::CaseInsensitive)) {
            return i;
        }
    }
    return -1;
}

int UpdateForm::ComboFindExact(const std::string& text) const {
    const QString wanted = ToQt(text);
    for (int i = 0; i < ComboZelkType->count(); ++i) {
        if (ComboZelkType->itemText(i) == wanted) {
            return i;
        }
    }
    return -1;
}

void UpdateForm::SetComboSelectionHandler(std::function<void()> handler) {
    comboHandler_ = std::move(handler);
}

void UpdateForm::StopTimer() {
    TimerCheck->stop();
}

void UpdateForm::StartTimer() {
    TimerCheck->start();
}

void UpdateForm::WaitKeepingWindowAlive(std::int64_t ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(ms));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace ZELKUtil
