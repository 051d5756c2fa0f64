#include "app/qt/hotplug_monitor.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace ZELKUtil::Hid {
namespace {

// More than a hub with everything behind it sends at once.
constexpr int kMaxEventsPerRead = 1024;

}  // namespace

HotplugMonitor::HotplugMonitor(std::function<void()> onChange, const std::string& udevRunDir,
                               QObject* parent)
    : QObject(parent), onChange_(std::move(onChange)) {
    udev_ = udev_new();
    if (udev_ == nullptr) {
        opened_ = ErrorFromErrno("udev_new", errno);
        return;
    }
    source_ = ::access((udevRunDir + "/control").c_str(), F_OK) == 0 ? "udev" : "kernel";
    monitor_ = udev_monitor_new_from_netlink(udev_, source_.c_str());
    if (monitor_ == nullptr) {
        opened_ = ErrorFromErrno("udev_monitor_new_from_netlink", errno);
        return;
    }
    int rc = udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr);
    if (rc >= 0) {
        rc = udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    }
    if (rc >= 0) {
        rc = udev_monitor_enable_receiving(monitor_);
    }
    if (rc < 0) {
        opened_ = ErrorFromErrno("udev monitor", -rc);
        return;
    }
    const int fd = udev_monitor_get_fd(monitor_);
    // Reads must never block the window's thread: draining stops at the first empty read.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        opened_ = ErrorFromErrno("fcntl", errno);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    owed_.setSingleShot(true);
    owed_.setInterval(0);
    connect(&owed_, &QTimer::timeout, this, [this] { onChange_(); });
}

HotplugMonitor::~HotplugMonitor() {
    if (watch_ != nullptr) {
        watch_->Listening(ChangeSource::None);  // no longer heard: keep nothing
    }
    notifier_.reset();
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (udev_ != nullptr) {
        udev_unref(udev_);
    }
}

bool HotplugMonitor::EventsPending() const {
    if (notifier_ == nullptr) {
        return false;
    }
    // A socket that overflowed shows POLLERR: reading it tells of the loss. A poll that fails says
    // nothing, which must not be taken for a quiet socket.
    pollfd socket{udev_monitor_get_fd(monitor_), POLLIN, 0};
    const int ready = ::poll(&socket, 1, 0);
    return ready < 0 || (ready > 0 && (socket.revents & (POLLIN | POLLERR)) != 0);
}

void HotplugMonitor::Inform(DeviceChangeJournal& watch) {
    if (notifier_ == nullptr) {
        return;  // nothing is heard: the watch keeps nothing
    }
    watch_ = &watch;
    watch.Listening(source_ == "udev" ? ChangeSource::Udev : ChangeSource::Kernel, [this] {
        if (!EventsPending()) {
            return true;
        }
        if (ReadEvents()) {
            OweChange();
        }
        return !EventsPending();
    });
}

void HotplugMonitor::Drain() {
    if (ReadEvents() && onChange_) {
        owed_.stop();  // this run covers whatever a backend read meanwhile
        onChange_();
    }
}

bool HotplugMonitor::ReadEvents() {
    bool any = false;
    // Bounded, so that a flood cannot hold the window's thread: what is left fires the notifier.
    for (int read = 0; read < kMaxEventsPerRead; ++read) {
        errno = 0;
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (device != nullptr) {
            Tell(device);
            udev_device_unref(device);
            any = true;
            continue;
        }
        const int error = errno;
        // libudev also says EAGAIN for a message it passed over (the filter, a sender it does
        // not trust), with more behind it.
        if (error == 0 || error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
            if (EventsPending()) {
                continue;
            }
            break;
        }
        // A socket that overflowed has lost events, and a message that could not be read may have
        // been one: something changed all the same, and nobody can say what.
        if (watch_ != nullptr) {
            watch_->Changed();
        }
        any = true;
        if (error != ENOBUFS) {
            break;
        }
    }
    return any;
}

void HotplugMonitor::Tell(udev_device* device) {
    if (watch_ == nullptr) {
        return;
    }
    auto change = PinChange(udev_device_get_subsystem(device), udev_device_get_devtype(device),
                            udev_device_get_action(device), udev_device_get_devpath(device));
    if (change) {
        watch_->DeviceChanged(std::move(*change));
    } else {
        watch_->Changed();
    }
}

void HotplugMonitor::OweChange() {
    // Never from inside the backend that asked: the handler runs a poll of its own.
    if (onChange_ && !owed_.isActive()) {
        owed_.start();
    }
}

}  // namespace ZELKUtil::Hid
