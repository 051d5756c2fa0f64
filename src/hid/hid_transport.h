#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

// The HID transport: the only way to the box's HID interface. The device class calls these
// operations through this interface so that the platform backend (hidraw on Linux) and the box
// emulator of the tests are interchangeable. Results are integers, never exceptions:
// a positive byte count, 0 when an interrupt read's time-out expired, -1 for a failure, -2 when a
// write's time-out expired, and a null record from a failed open. Every call given a null record
// returns -1 (hid_close and hid_error do nothing) and touches nothing.

// One open HID interface. Callers hold a pointer and never look inside; each backend derives its
// own record from this base. Created by hid_open, destroyed only by hid_close.
struct hid_device {
    hid_device() = default;
    hid_device(const hid_device&) = delete;
    hid_device& operator=(const hid_device&) = delete;
    virtual ~hid_device() = default;
};

// One entry of an enumeration; entries form a list in the order the system lists the interfaces.
struct hid_device_info {
    char* path = nullptr;
    unsigned short vendor_id = 0;
    unsigned short product_id = 0;
    wchar_t* serial_number = nullptr;        // never filled
    wchar_t* manufacturer_string = nullptr;  // never filled
    wchar_t* product_string = nullptr;       // never filled
    hid_device_info* next = nullptr;
};

// An interface with the asked-for IDs that an open found but could not open, and why.
struct HidOpenFailure {
    std::string path;  // the interface as the system names it
    // The call that failed and the system's text for it; of kind AccessDenied when this user may
    // not open the interface.
    ZELKUtil::Error error;
};

// The time-out value that means "no limit".
inline constexpr std::uint32_t kHidNoTimeout = 0xFFFFFFFFU;

class HidTransport {
  public:
    virtual ~HidTransport() = default;

    virtual hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                                 const wchar_t* serial_number, int exclusive) = 0;
    // Sets the record's time-out for writes and interrupt reads; returns 0.
    virtual int hid_set_nonblocking(hid_device* device, int nonblock, int timeout) = 0;
    virtual int hid_write(hid_device* device, const unsigned char* data, std::size_t length) = 0;
    // Next input report from the interrupt pipe within the time-out: bytes after the report-ID
    // strip, 0 on time-out, -1 on failure.
    virtual int hid_read_int(hid_device* device, unsigned char* data, std::size_t length) = 0;
    // The current input report through the control pipe: bytes after the report-ID strip, or -1.
    virtual int hid_read(hid_device* device, unsigned char* data, std::size_t length) = 0;
    // 0 and a terminated string within maxlen wide characters, or -1.
    virtual int hid_get_product_string(hid_device* device, wchar_t* string, std::size_t maxlen) = 0;
    // Null does nothing.
    virtual void hid_close(hid_device* device) = 0;
    // The last failure's text on this record, or null.
    virtual const wchar_t* hid_error(hid_device* device) = 0;
    // The interfaces with its IDs that the last hid_open found but could not open (none when it
    // opened one, or found none): a box that is present but not open to this user is not absent.
    virtual std::vector<HidOpenFailure> hid_open_failures() = 0;

    // The box is known by the USB port it is plugged into, in every mode: these tell and limit
    // ports. A port is the system's name for where a USB device sits: on Linux the sysfs name of
    // the USB device ("1-2.3"), on Windows the USB device's location path. "" when the system does
    // not tell (a virtual device without a USB parent, a stack that gives no location).

    // The port of the interface that an open record holds; "" for a null record.
    virtual std::string hid_port(hid_device* device) = 0;
    // The port of every interface with the IDs that is present now, one entry per interface in
    // the system's order, whether or not this user may open it or it is held open.
    virtual std::vector<std::string> hid_ports(unsigned short vendor_id,
                                               unsigned short product_id) = 0;
    // Confines every later hid_open and hid_ports to interfaces on the port; nullopt lifts the
    // limit. (An interface whose port the system does not tell has the port "", which no run is
    // ever confined to.)
    virtual void hid_confine_to_port(const std::optional<std::string>& port) = 0;
};
