// The demo's window on Linux: the Qt window and a Qt side panel.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/form_wiring.h"
#include "app/qt/update_form.h"
#include "demo/demo_world.h"
#include "platform/steady_clock.h"

namespace ZELKSim {
namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

// The side panel of the demo, not part of the utility's window.
QWidget* MakeSidePanel(DemoWorld& world) {
    auto* panel = new QWidget;
    panel->setWindowTitle(QStringLiteral("Emulated ZELK box"));
    auto* layout = new QVBoxLayout(panel);
    auto* state = new QLabel(panel);
    layout->addWidget(state);
    const auto add = [&](const char* text, std::function<void()> action) {
        auto* b = new QPushButton(QString::fromLatin1(text), panel);
        QObject::connect(b, &QPushButton::clicked, panel,
                         [action = std::move(action)] { action(); });
        layout->addWidget(b);
    };
    // The box tells the utility of each change as the system would.
    add("Unplug", [&] { world.box.Unplug(); });
    add("Plug in", [&] { world.box.Plug(); });
    add("Eye event: left", [&] { world.box.SendEyeChangedEvent(0); });
    add("Eye event: right", [&] { world.box.SendEyeChangedEvent(1); });
    add("Error event", [&] { world.box.SendErrorEvent(-3); });
    auto* refresh = new QTimer(panel);
    QObject::connect(refresh, &QTimer::timeout, panel, [&world, state] {
        state->setText(QStringLiteral("Box: %1, firmware %2")
                           .arg(QString::fromLatin1(ModeText(world.box.Mode())),
                                QString::fromStdString(world.box.FirmwareVersion())));
    });
    refresh->start(200);
    return panel;
}

}  // namespace

std::string DefaultDemoPackage() {
    return ZELK_DEMO_PACKAGE;
}

std::optional<int> RunDemoWindow(int argc, char** argv, const std::string& package) {
    if (!HasDisplay()) {
        return std::nullopt;
    }
    QApplication app(argc, argv);
    DemoWorld world(package);
    ZELKUtil::SteadyClock clock;
    ZELK device(world.hid, world.probe, clock, world.modes);
    ZELKUtil::UpdateForm form;
    clock.SetWaiter([&form](std::int64_t ms) { form.WaitKeepingWindowAlive(ms); });
    ZELKUtil::UpgradeController controller({form, clock, device, world.tools, package, "x86_64"});
    ZELKUtil::ConnectForm(form, controller);
    // Every change of the box's presence reaches the window's event loop as a device change, as
    // the system's notification does; during a wait the controller remembers it.
    world.box.SetPresenceListener([&form, &controller](BoxMode /*mode*/) {
        // Qt owns the queued call until it has run.
        QMetaObject::invokeMethod(  // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks)
            &form, [&controller] { controller.Main_OnDeviceChange(); }, Qt::QueuedConnection);
    });
    controller.InitializeApplication();
    form.show();
    QWidget* panel = MakeSidePanel(world);
    panel->move(form.frameGeometry().topRight() + QPoint(12, 0));
    panel->show();
    const int rc = QApplication::exec();
    world.box.SetPresenceListener({});
    delete panel;
    return rc;
}

}  // namespace ZELKSim
