#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hid/device_change_journal.h"
#include "hid/hid_transport.h"
#include "hid/windows/usb_port.h"
#include "hid/windows/win32_calls.h"

namespace ZELKUtil::Hid {

// The HID transport over the Windows HID class: interfaces of the HID interface class found with
// SetupDi, opened with CreateFileA for overlapped I/O (shared for reading and writing, or not at
// all for an exclusive open), hid.dll's services loaded by name at first use. Every Win32 call goes
// through the calls table, which the product fills with the system's and tests with their own.
// With a journal that hears the system's device notifications, the list of interfaces and what was
// learnt of each (attributes, USB device, port) is kept while no notification has come, so that a
// poll that finds nothing changed enumerates nothing and opens no interface but the one it opens
// for use. An interface that could not be opened when listed (held by someone else, or by the
// system, as keyboards are) is tried again only when its USB device has the IDs asked for.
class WindowsHidTransport : public HidTransport {
  public:
    // The table (and the journal, when given) must outlive the transport.
    explicit WindowsHidTransport(const Win32Calls& calls, DeviceChangeJournal* journal = nullptr);

    hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                         const wchar_t* serial_number, int exclusive) override;
    int hid_set_nonblocking(hid_device* device, int nonblock, int timeout) override;
    int hid_write(hid_device* device, const unsigned char* data, std::size_t length) override;
    int hid_read_int(hid_device* device, unsigned char* data, std::size_t length) override;
    int hid_read(hid_device* device, unsigned char* data, std::size_t length) override;
    int hid_get_product_string(hid_device* device, wchar_t* string, std::size_t maxlen) override;
    void hid_close(hid_device* device) override;
    const wchar_t* hid_error(hid_device* device) override;
    // The interface that the last hid_open took but could not open, and why. Interfaces that
    // cannot be opened at all never show their IDs, so they are not among them.
    std::vector<HidOpenFailure> hid_open_failures() override { return openFailures_; }
    // Ports are the location paths of the USB devices the interfaces belong to (see usb_port.h);
    // the port of a record is found when it is opened.
    std::string hid_port(hid_device* device) override;
    // An interface that cannot be opened (held exclusively, not open to this user) shows no
    // attributes; its IDs are then those of the USB device it belongs to. IDs 0 and 0 are no
    // wildcard here, as in hid_open.
    std::vector<std::string> hid_ports(unsigned short vendor_id,
                                       unsigned short product_id) override;
    void hid_confine_to_port(const std::optional<std::string>& port) override {
        confinedPort_ = port;
    }

    // The present interfaces of the HID class with the IDs (0 and 0: all) that can be opened for
    // reading and writing, shared, in the system's order; null when none. Not confined to a port.
    // Whether each can be opened is tried afresh, even while the list is kept.
    hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id);
    void hid_free_enumeration(hid_device_info* devices);
    hid_device* hid_open_path(const char* path, int exclusive);

    // Siblings that the device class does not use.
    int hid_get_manufacturer_string(hid_device* device, wchar_t* string, std::size_t maxlen);
    int hid_get_serial_number_string(hid_device* device, wchar_t* string, std::size_t maxlen);
    int hid_get_indexed_string(hid_device* device, int string_index, wchar_t* string,
                               std::size_t maxlen);
    int hid_send_feature_report(hid_device* device, const unsigned char* data, std::size_t length);
    int hid_get_feature_report(hid_device* device, unsigned char* data, std::size_t length);
    int hid_write_untimed(hid_device* device, const unsigned char* data, std::size_t length);

  private:
    static constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
    static constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
    struct Device;
    // A present interface of the HID class as SetupDi lists it: its path and its device node.
    struct PresentInterface {
        std::string path;
        DEVINST node = 0;
    };

    // One interface of the list and what has been learnt of it, each part at its first need.
    struct Listed {
        std::string path;
        DEVINST node = 0;
        // Its attributes; nullopt inside: it could not be opened when they were asked for.
        std::optional<std::optional<HIDD_ATTRIBUTES>> attributes;
        // Set on every interface of a kept list: attributes that could not be had may be had now.
        bool stale = false;
        std::optional<std::optional<UsbDeviceNode>> usb;
        std::optional<std::string> port;
    };

    // Looks hid.dll's services up once; true when those the layer needs are there.
    bool HidServicesReady();
    // Every present interface of the HID class in the system's order; false when the list cannot
    // be had.
    bool PresentInterfaces(std::vector<PresentInterface>& interfaces);
    // The list: kept while the journal says nothing changed, else read now.
    std::vector<Listed>& Interfaces();
    // Whether the interface has the IDs, reading its attributes when they are not known (or,
    // in a kept list, could not be had and its USB device has the IDs); readNow tells which.
    bool HasIds(Listed& entry, unsigned short vendor_id, unsigned short product_id, bool& readNow);
    const std::optional<UsbDeviceNode>& UsbOf(Listed& entry);
    const std::string& PortOf(Listed& entry);
    // The interface's attributes, when it can be opened for reading and writing, shared.
    std::optional<HIDD_ATTRIBUTES> Attributes(const std::string& path);
    // The outcome of an overlapped transfer that was started, waited for within the time-out
    // (or without one), cancelled when it was not done in time.
    struct Transfer {
        bool completed = false;  // false: the time-out expired, the transfer was cancelled
        bool ok = false;
        DWORD bytes = 0;
        DWORD error = 0;
    };
    Transfer Finish(Device& device, OVERLAPPED& overlapped, DWORD timeoutMs);
    // A transfer with the device's time-out on an event of its own, started by start; nothing
    // when it could not be started (the error text recorded).
    std::optional<Transfer> TimedTransfer(Device& device,
                                          const std::function<BOOL(OVERLAPPED*)>& start);
    // A transfer without a time-out, started without an event (started: the start call's
    // result): the byte count, or -1 with the error text recorded.
    int FinishUntimed(Device& device, OVERLAPPED& overlapped, BOOL started);
    void RecordError(Device& device, DWORD code);
    int GetString(hid_device* device, const std::function<BOOLEAN(HANDLE, PVOID, ULONG)>& service,
                  wchar_t* string, std::size_t maxlen);
    // The report-ID strip: a report whose first byte is 0 loses that byte.
    static DWORD StripReportId(unsigned char* data, DWORD count);

    // hid_open_path that notes why it failed.
    hid_device* OpenPath(const char* path, int exclusive, std::vector<HidOpenFailure>* failures);

    const Win32Calls& calls_;
    DeviceChangeJournal* journal_;
    std::vector<Listed> list_;
    std::optional<DeviceChangeJournal::Stamp> listStamp_;  // under which list_ was read
    std::vector<HidOpenFailure> openFailures_;
    std::optional<std::string> confinedPort_;
    bool servicesTried_ = false;
    bool servicesLoaded_ = false;
    HidServices services_;
};

}  // namespace ZELKUtil::Hid
