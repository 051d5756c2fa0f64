#include "hid/linux/udev_events.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "hid/device_change.h"

namespace ZELKUtil::Hid {
namespace {

// More than a hub with everything behind it sends at once.
constexpr int kMaxEventsPerRead = 1024;

void Tell(DeviceChangeJournal& journal, udev_device* device) {
    auto change = PinChange(udev_device_get_subsystem(device), udev_device_get_devtype(device),
                            udev_device_get_action(device), udev_device_get_devpath(device));
    if (change) {
        journal.DeviceChanged(std::move(*change));
    } else {
        journal.Changed();
    }
}

}  // namespace

UdevEvents::UdevEvents(const std::string& udevRunDir) {
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
    // Reads must never block the reader's thread: draining stops at the first empty read.
    const int fd = udev_monitor_get_fd(monitor_);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        opened_ = ErrorFromErrno("fcntl", errno);
    }
}

UdevEvents::~UdevEvents() {
    if (journal_ != nullptr) {
        journal_->Listening(ChangeSource::None);  // no longer heard: keep nothing
    }
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (udev_ != nullptr) {
        udev_unref(udev_);
    }
}

int UdevEvents::Fd() const {
    return opened_ && monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

bool UdevEvents::EventsPending() const {
    const int fd = Fd();
    if (fd < 0) {
        return false;
    }
    // A socket that overflowed shows POLLERR: reading it tells of the loss. A poll that fails says
    // nothing, which must not be taken for a quiet socket.
    pollfd socket{fd, POLLIN, 0};
    const int ready = ::poll(&socket, 1, 0);
    return ready < 0 || (ready > 0 && (socket.revents & (POLLIN | POLLERR)) != 0);
}

void UdevEvents::Follow(DeviceChangeJournal& journal, std::function<void()> afterRead) {
    if (Fd() < 0) {
        journal.Listening(ChangeSource::None);
        return;
    }
    journal_ = &journal;
    journal.Listening(source_ == "udev" ? ChangeSource::Processed : ChangeSource::Kernel,
                      [this, afterRead = std::move(afterRead)] {
                          if (!EventsPending()) {
                              return true;
                          }
                          if (ReadEvents() && afterRead) {
                              afterRead();
                          }
                          return !EventsPending();
                      });
}

bool UdevEvents::ReadEvents() {
    if (Fd() < 0) {
        return false;
    }
    bool any = false;
    // Bounded, so that a flood cannot hold the reader's thread: what is left is read next time.
    for (int read = 0; read < kMaxEventsPerRead; ++read) {
        errno = 0;
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (device != nullptr) {
            if (journal_ != nullptr) {
                Tell(*journal_, device);
            }
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
        if (journal_ != nullptr) {
            journal_->Changed();
        }
        any = true;
        if (error != ENOBUFS) {
            break;
        }
    }
    return any;
}

}  // namespace ZELKUtil::Hid
