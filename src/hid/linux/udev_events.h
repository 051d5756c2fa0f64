#pragma once

#include <functional>
#include <string>

#include "hid/device_change_journal.h"
#include "platform/result.h"

struct udev;
struct udev_monitor;

namespace ZELKUtil::Hid {

// The system's USB and hidraw device events, read from a netlink socket without ever blocking:
// udev's processed events where systemd-udevd runs (so that the device's udev record exists by
// then), the kernel's own otherwise. What is read goes to the journal it follows, each change
// pinned to the device the event names where it names one. The window's hot-plug monitor reads it
// when its socket wakes the event loop; zelk-cli's runs, which have no event loop, read it
// whenever their backends ask the journal.
class UdevEvents {
  public:
    // udevRunDir tells whether udevd runs (its control socket lives there): "/run/udev".
    explicit UdevEvents(const std::string& udevRunDir = "/run/udev");
    ~UdevEvents();
    UdevEvents(const UdevEvents&) = delete;
    UdevEvents& operator=(const UdevEvents&) = delete;

    // The error that kept the socket from being set up, if one did; nothing is heard then.
    const Result<void>& Opened() const { return opened_; }
    // "udev" or "kernel".
    const std::string& Source() const { return source_; }
    // The socket, for an event loop to wait on; -1 when not opened.
    int Fd() const;
    // Whether events wait unread on the socket.
    bool EventsPending() const;
    // From now on the journal hears what this socket listens to and every change read from it.
    // Events that wait when a backend asks the journal are read then, and `afterRead` runs when
    // any were. Without an open socket the journal is told that nothing is heard.
    void Follow(DeviceChangeJournal& journal, std::function<void()> afterRead = {});
    // Reads every event that waits (a bounded number), telling the journal of each; whether there
    // was any.
    bool ReadEvents();

  private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    Result<void> opened_;
    std::string source_;
    DeviceChangeJournal* journal_ = nullptr;
};

}  // namespace ZELKUtil::Hid
