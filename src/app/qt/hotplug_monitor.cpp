#include "app/qt/hotplug_monitor.h"

#include <utility>

namespace ZELKUtil::Hid {

HotplugMonitor::HotplugMonitor(std::function<void()> onChange, const std::string& udevRunDir,
                               QObject* parent)
    : QObject(parent), onChange_(std::move(onChange)), events_(udevRunDir) {
    if (events_.Fd() < 0) {
        return;  // the program relies on its timer alone
    }
    notifier_ = std::make_unique<QSocketNotifier>(events_.Fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    owed_.setSingleShot(true);
    owed_.setInterval(0);
    connect(&owed_, &QTimer::timeout, this, [this] { onChange_(); });
}

void HotplugMonitor::Inform(DeviceChangeJournal& journal) {
    events_.Follow(journal, [this] { OweChange(); });
}

void HotplugMonitor::Drain() {
    if (events_.ReadEvents() && onChange_) {
        owed_.stop();  // this run covers whatever a backend read meanwhile
        onChange_();
    }
}

void HotplugMonitor::OweChange() {
    // Never from inside the backend that asked: the handler runs a poll of its own.
    if (onChange_ && !owed_.isActive()) {
        owed_.start();
    }
}

}  // namespace ZELKUtil::Hid
