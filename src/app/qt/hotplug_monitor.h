#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "hid/device_change_journal.h"
#include "hid/hotplug_source.h"
#include "hid/linux/udev_events.h"
#include "platform/result.h"

namespace ZELKUtil::Hid {

// Tells the window whenever the system's set of USB or hidraw devices changes (UdevEvents on a Qt
// socket notifier). Every pending event is read before the handler runs: the notifier is
// level-triggered, and an unread event would fire again and again while a poll waits.
class HotplugMonitor final : public QObject, public HotplugSource {
  public:
    // udevRunDir tells whether udevd runs (its control socket lives there): "/run/udev".
    explicit HotplugMonitor(std::function<void()> onChange,
                            const std::string& udevRunDir = "/run/udev", QObject* parent = nullptr);
    ~HotplugMonitor() override = default;
    HotplugMonitor(const HotplugMonitor&) = delete;
    HotplugMonitor& operator=(const HotplugMonitor&) = delete;

    // The error that kept the monitor from being set up, if one did; the program then relies on
    // its timer alone.
    Result<void> Opened() const override { return events_.Opened(); }
    // "udev" or "kernel".
    const std::string& Source() const { return events_.Source(); }
    // Whether events wait unread on the monitor's socket.
    bool EventsPending() const { return events_.EventsPending(); }
    // From now on the journal hears what this monitor listens to and every change it sees (before
    // the handler runs), each pinned to the device the event names where it names one, so that
    // the backends re-read only what changed. Events that wait when a backend asks the journal are
    // read then, and the handler runs for them from the event loop.
    void Inform(DeviceChangeJournal& journal) override;

  private:
    void Drain();
    // Runs the handler from the event loop, once however many events were read meanwhile.
    void OweChange();

    std::function<void()> onChange_;
    UdevEvents events_;
    std::unique_ptr<QSocketNotifier> notifier_;  // after the socket it watches: goes before it
    // Runs the handler from the event loop for events read when a backend asked the journal.
    QTimer owed_;
};

}  // namespace ZELKUtil::Hid
