#include "hid/linux/hotplug_monitor.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ZELKUtil::Hid {

HotplugMonitor::HotplugMonitor(std::function<void()> onChange, const std::string& udevRunDir,
                               QObject* parent)
    : QObject(parent), onChange_(std::move(onChange)) {
    udev_ = udev_new();
    if (udev_ == nullptr) {
        error_ = std::string("udev_new: ") + std::strerror(errno);
        return;
    }
    source_ = ::access((udevRunDir + "/control").c_str(), F_OK) == 0 ? "udev" : "kernel";
    monitor_ = udev_monitor_new_from_netlink(udev_, source_.c_str());
    if (monitor_ == nullptr) {
        error_ = std::string("udev_monitor_new_from_netlink: ") + std::strerror(errno);
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
        error_ = std::string("udev monitor: ") + std::strerror(-rc);
        return;
    }
    const int fd = udev_monitor_get_fd(monitor_);
    // Reads must never block the window's thread: draining stops at the first empty read.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        error_ = std::string("fcntl: ") + std::strerror(errno);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
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
    pollfd socket{udev_monitor_get_fd(monitor_), POLLIN, 0};
    return ::poll(&socket, 1, 0) > 0 && (socket.revents & POLLIN) != 0;
}

void HotplugMonitor::Inform(DeviceTreeWatch& watch) {
    if (notifier_ == nullptr) {
        return;  // nothing is heard: the watch keeps nothing
    }
    watch_ = &watch;
    watch.Listening(source_ == "udev" ? ChangeSource::Udev : ChangeSource::Kernel,
                    [this] { return EventsPending(); });
}

void HotplugMonitor::Drain() {
    int events = 0;
    for (;;) {
        errno = 0;
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (device == nullptr) {
            // A socket that overflowed has lost events: something changed all the same.
            if (errno == ENOBUFS) {
                ++events;
                continue;
            }
            break;
        }
        udev_device_unref(device);
        ++events;
    }
    if (events > 0 && watch_ != nullptr) {
        watch_->Changed();
    }
    if (events > 0 && onChange_) {
        onChange_();
    }
}

}  // namespace ZELKUtil::Hid
