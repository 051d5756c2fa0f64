#include "demo.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "app/form_wiring.h"
#include "app/ui_wait.h"
#include "app/update_form.h"
#include "console_view.h"
#include "device/zelk.h"
#include "emulated_box.h"
#include "emulated_device_probe.h"
#include "emulated_hid_transport.h"
#include "emulated_tools.h"
#include "package/package_files.h"
#include "package/profile_file.h"
#include "platform/steady_clock.h"
#include "real_time_clock.h"
#include "road_timer.h"
#include "scenario_world.h"

namespace fs = std::filesystem;

namespace ZELKSim {
namespace {

constexpr const char* kBoxVersion = "2.01";
constexpr std::int64_t kConsoleLimitMs = std::int64_t{10} * 60 * 1000;

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

// A private copy, so that the demo's tools can write their logs without touching the original.
std::string CopyPackage(const std::string& source, ScratchFolder& copy) {
    if (std::string error = copy.Create(); !error.empty()) {
        return error;
    }
    std::error_code ec;
    fs::copy(source, copy.Root(), fs::copy_options::recursive, ec);
    return ec ? "cannot copy " + source + ": " + ec.message() : "";
}

// The box looks like the package's first variant, with older firmware.
BoxIdentity IdentityFor(const std::string& package) {
    BoxIdentity identity;
    const ZELKUtil::ProfileFileResult file =
        ZELKUtil::ReadProfileFile(package + "/" + ZELKUtil::PackageFiles::kProfileFile);
    if (file.loaded && !file.profiles.empty()) {
        const ZELKUtil::ZelkProfile& p = file.profiles.front();
        identity.vid = static_cast<std::uint16_t>(p.vid);
        identity.pid = static_cast<std::uint16_t>(p.pid);
        identity.product = std::wstring(p.name.begin(), p.name.end());
    }
    return identity;
}

// Everything the demo runs on, but the view and the clock the controller sees.
struct DemoWorld {
    explicit DemoWorld(const std::string& package)
        : box(timeline, IdentityFor(package)), tools(timeline, box, package) {
        box.SetFirmwareVersion(kBoxVersion);
        box.SetRestartMs(2500);
        box.SetEye(0);
        // Slow enough to watch.
        tools.Settings().stepMs = 120;
        tools.Settings().dfuUtilBarLength = 30;
        tools.Settings().staplPercentLines = 10;
        tools.Settings().installerMs = 1500;
        box.SetFpgaIdcode(0x029121CF);
        box.SetFpgaChecksum(0x1234);
    }
    RealTimeClock timeline;
    EmulatedBox box;
    EmulatedHidTransport hid{box};
    EmulatedDeviceProbe probe{box};
    EmulatedProcessService tools;
    ReadPathModes modes;
};

const char* ModeName(BoxMode mode) {
    switch (mode) {
        case BoxMode::Normal:
            return "normal mode";
        case BoxMode::Bootloader:
            return "bootloader";
        case BoxMode::FpgaProgrammer:
            return "FPGA programmer";
        case BoxMode::Absent:
            break;
    }
    return "not on the bus";
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
                           .arg(QString::fromLatin1(ModeName(world.box.Mode())),
                                QString::fromStdString(world.box.FirmwareVersion())));
    });
    refresh->start(200);
    return panel;
}

int RunWindow(int argc, char** argv, const std::string& package) {
    QApplication app(argc, argv);
    DemoWorld world(package);
    ZELKUtil::SteadyClock clock;
    clock.SetWaiter(ZELKUtil::WaitKeepingWindowAlive);
    ZELK device(world.hid, world.probe, clock, world.modes);
    ZELKUtil::UpdateForm form;
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

// The window's event loop, for a console: a wait hands each device change that the box reports to
// the controller as it comes.
class ConsoleEvents {
  public:
    void Notify() {
        const std::lock_guard lock(mutex_);
        ++changes_;
        arrived_.notify_one();
    }
    void Wait(std::int64_t ms, const std::function<void()>& deliver) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::unique_lock lock(mutex_);
        for (;;) {
            arrived_.wait_until(lock, deadline, [this] { return changes_ > 0; });
            if (changes_ == 0) {
                return;
            }
            --changes_;
            lock.unlock();
            deliver();
            lock.lock();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    int changes_ = 0;
};

int RunConsole(const std::string& package) {
    DemoWorld world(package);
    ZELKUtil::SteadyClock clock;
    RoadTimer road(clock);
    RoadClock controllerClock(clock, road);
    RoadTools tools(world.tools, road);
    ZELK device(world.hid, world.probe, clock, world.modes);
    // The log as it grows, and the label changes on lines of their own.
    ConsoleView view(ConsoleEcho{&std::cout, true, {}});
    ZELKUtil::UpgradeController controller(
        {view, controllerClock, device, tools, package, "x86_64"});
    std::int64_t completed = -1;
    const auto noteCompletion = [&] {
        if (completed < 0 && view.log.find("Upgrade Complete") != std::string::npos) {
            completed = clock.NowMs();
        }
    };
    ConsoleEvents events;
    clock.SetWaiter([&](std::int64_t ms) {
        events.Wait(ms, [&] {
            controller.Main_OnDeviceChange();
            noteCompletion();
        });
    });
    world.box.SetPresenceListener([&events, &road](BoxMode mode) {
        road.BoxOnBus(mode != BoxMode::Absent);
        events.Notify();
    });
    controller.InitializeApplication();
    const std::int64_t start = clock.NowMs();
    // Nobody sits at a console demo: where the package waits for the operator, the demo acts as
    // one would, and says so.
    bool started = controller.State().upgradeMode != ZELKUtil::manual_upgrade;
    bool replugged = false;
    // The timer: a poll, then a second, until the road is done.
    while (view.log.find("Upgrade Complete") == std::string::npos &&
           view.log.find("Error") == std::string::npos && clock.NowMs() - start < kConsoleLimitMs) {
        controller.TimerCheck_Tick();
        noteCompletion();
        if (!started && controller.State().connected != 0) {
            std::cout << "\n[The operator presses \"Start\"]" << std::endl;
            controller.buttonRestart_Click();
            started = true;
        }
        // The FPGA programmer stays until the box is restarted; the operator re-plugs it.
        if (!replugged && view.log.find("FPGA Done") != std::string::npos &&
            controller.State().currently_programming_fpga == 0) {
            std::cout << "\n[The operator re-plugs the box]" << std::endl;
            world.box.Unplug();
            world.box.Plug();
            replugged = true;
        }
        // The timer's interval; a countdown step waits for the next tick.
        const bool counting = controller.State().startCountDown != 0;
        const std::int64_t from = clock.NowMs();
        clock.SleepMs(1000);
        if (counting) {
            road.Add(RoadTimer::Kind::CountdownTick, from, clock.NowMs());
        }
        noteCompletion();
    }
    controller.Dispose();
    world.box.SetPresenceListener({});
    std::cout << "\n\nDemo ended after " << (clock.NowMs() - start) / 1000 << " s." << std::endl;
    if (completed >= 0 && controller.State().upgradeMode == ZELKUtil::auto_upgrade) {
        std::cout << road.Report(start, completed) << std::endl;
    }
    return view.log.find("Upgrade Complete") != std::string::npos ? 0 : 1;
}

}  // namespace

int RunDemo(int argc, char** argv, const std::string& package) {
    const std::string source = package.empty() ? std::string(ZELK_DEMO_PACKAGE) : package;
    ScratchFolder copy;
    if (const std::string error = CopyPackage(source, copy); !error.empty()) {
        std::fprintf(stderr, "zelk-sim demo: %s\n", error.c_str());
        return 2;
    }
    std::printf("zelk-sim demo: package %s (working copy %s)\n", source.c_str(),
                copy.Root().c_str());
    std::fflush(stdout);
    return HasDisplay() ? RunWindow(argc, argv, copy.Root()) : RunConsole(copy.Root());
}

}  // namespace ZELKSim
