#include "hid/windows/windows_hid_transport.h"

#include <winioctl.h>
extern "C" {
#include <hidclass.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hid/windows/usb_port.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/unique_handle.h"

namespace ZELKUtil::Hid {
namespace {

static_assert(IOCTL_HID_GET_INPUT_REPORT == 0x000B01A2);
static_assert(IOCTL_HID_GET_FEATURE == 0x000B0192);

char* CopyText(const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void NoteFailure(std::vector<HidOpenFailure>* failures, const char* path, const char* operation,
                 DWORD code) {
    if (failures != nullptr) {
        failures->push_back({path, Windows::ErrorFromSystemCode(operation, code)});
    }
}

DWORD ByteCount(std::size_t length) {
    return static_cast<DWORD>(std::min<std::size_t>(length, MAXDWORD));
}

}  // namespace

struct WindowsHidTransport::Device : hid_device {
    UniqueHandle device_handle;
    std::uint32_t timeout_ms = kHidNoTimeout;
    std::int32_t input_report_length = -1;
    std::optional<std::wstring> last_error_text;
    std::string port;  // of the interface, found when it was opened
};

WindowsHidTransport::WindowsHidTransport(const Win32Calls& calls, DeviceChangeJournal* journal)
    : calls_(calls), journal_(journal) {}

bool WindowsHidTransport::HidServicesReady() {
    if (!servicesTried_) {
        servicesLoaded_ = calls_.LoadHidServices(services_);
        servicesTried_ = true;
    }
    // Without these no interface can be enumerated or opened.
    return servicesLoaded_ && services_.HidD_GetAttributes && services_.HidD_GetPreparsedData &&
           services_.HidP_GetCaps && services_.HidD_FreePreparsedData;
}

void WindowsHidTransport::RecordError(Device& device, DWORD code) {
    device.last_error_text = Windows::SystemErrorTextW(code);
}

hid_device_info* WindowsHidTransport::hid_enumerate(unsigned short vendor_id,
                                                    unsigned short product_id) {
    if (!HidServicesReady()) {
        return nullptr;
    }
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (Listed& entry : Interfaces()) {
        // Whether it can be opened now is asked now.
        if (entry.stale || !entry.attributes) {
            entry.attributes = Attributes(entry.path);
            entry.stale = false;
        }
        const std::optional<HIDD_ATTRIBUTES>& attributes = *entry.attributes;
        // Only both IDs 0 are a wildcard; a zero vendor ID alone matches vendor ID 0.
        if (attributes &&
            ((vendor_id == 0 && product_id == 0) ||
             (attributes->VendorID == vendor_id && attributes->ProductID == product_id))) {
            auto* info = new hid_device_info;
            info->path = CopyText(entry.path);
            info->vendor_id = attributes->VendorID;
            info->product_id = attributes->ProductID;
            *tail = info;
            tail = &info->next;
        }
    }
    return head;
}

void WindowsHidTransport::hid_free_enumeration(hid_device_info* devices) {
    while (devices != nullptr) {
        hid_device_info* next = devices->next;
        delete[] devices->path;
        delete[] devices->serial_number;
        delete[] devices->manufacturer_string;
        delete[] devices->product_string;
        delete devices;
        devices = next;
    }
}

hid_device* WindowsHidTransport::hid_open(unsigned short vendor_id, unsigned short product_id,
                                          const wchar_t* serial_number, int exclusive) {
    openFailures_.clear();
    // The list carries no serial numbers, so a serial number finds nothing.
    if (serial_number != nullptr || !HidServicesReady()) {
        return nullptr;
    }
    // Only the first interface with the IDs on the port is tried: no retry with the next when its
    // open fails.
    for (Listed& entry : Interfaces()) {
        bool readNow = false;
        if (!HasIds(entry, vendor_id, product_id, readNow)) {
            continue;
        }
        const std::string& port = PortOf(entry);
        if (confinedPort_ && port != *confinedPort_) {
            continue;
        }
        const std::size_t failures = openFailures_.size();
        hid_device* device = OpenPath(entry.path.c_str(), exclusive, &openFailures_);
        if (device != nullptr) {
            static_cast<Device*>(device)->port = port;
            return device;
        }
        // Kept attributes say nothing of now: an interface that cannot be opened shared at all
        // (gone, or held by someone else) would not have been listed with its IDs, so it is passed
        // over as then, and the list is read afresh next time.
        if (!readNow) {
            entry.attributes = Attributes(entry.path);
            if (!*entry.attributes) {
                openFailures_.erase(openFailures_.begin() + static_cast<std::ptrdiff_t>(failures),
                                    openFailures_.end());
                listStamp_.reset();
                continue;
            }
        }
        return nullptr;
    }
    return nullptr;
}

hid_device* WindowsHidTransport::hid_open_path(const char* path, int exclusive) {
    hid_device* device = OpenPath(path, exclusive, nullptr);
    if (device == nullptr) {
        return nullptr;
    }
    // The path names the interface only; its device node, and so its port, comes from the list.
    for (Listed& entry : Interfaces()) {
        if (::_stricmp(entry.path.c_str(), path) == 0) {
            static_cast<Device*>(device)->port = PortOf(entry);
            break;
        }
    }
    return device;
}

std::string WindowsHidTransport::hid_port(hid_device* device) {
    return device != nullptr ? static_cast<Device*>(device)->port : std::string();
}

std::vector<std::string> WindowsHidTransport::hid_ports(unsigned short vendor_id,
                                                        unsigned short product_id) {
    std::vector<std::string> ports;
    const std::pair<unsigned short, unsigned short> asked(vendor_id, product_id);
    for (Listed& entry : Interfaces()) {
        bool readNow = false;
        const bool hasIds = HasIds(entry, vendor_id, product_id, readNow);
        // An interface that cannot be opened shows no attributes; the IDs of its USB device stand
        // in for them.
        if (!hasIds && (entry.attributes->has_value() || !UsbOf(entry) ||
                        UsbDeviceIds(UsbOf(entry)->instanceId) != asked)) {
            continue;
        }
        const std::string& port = PortOf(entry);
        if (!confinedPort_ || port == *confinedPort_) {
            ports.push_back(port);
        }
    }
    return ports;
}

hid_device* WindowsHidTransport::OpenPath(const char* path, int exclusive,
                                          std::vector<HidOpenFailure>* failures) {
    if (path == nullptr || !HidServicesReady()) {
        return nullptr;
    }
    auto device = std::make_unique<Device>();
    // Share mode none: fails while any other handle reads or writes the interface, and holds off
    // every other open (enumeration's too) while it is held.
    device->device_handle =
        UniqueHandle(calls_.CreateFileA(path, kReadWrite, exclusive != 0 ? 0 : kShareReadWrite,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr),
                     &calls_.CloseHandle);
    if (!device->device_handle.Valid()) {
        // The record and its error text are discarded; the reason is kept for hid_open's caller.
        NoteFailure(failures, path, "CreateFileA", calls_.GetLastError());
        return nullptr;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    const char* failed = nullptr;
    DWORD code = 0;
    if (services_.HidD_GetPreparsedData(device->device_handle.Get(), &preparsed) == FALSE) {
        failed = "HidD_GetPreparsedData";
        code = calls_.GetLastError();
    } else if (services_.HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
        failed = "HidP_GetCaps";
        code = ERROR_INVALID_DATA;
    }
    if (preparsed != nullptr) {
        services_.HidD_FreePreparsedData(preparsed);
    }
    if (failed != nullptr) {
        NoteFailure(failures, path, failed, code);
        return nullptr;
    }
    device->input_report_length = caps.InputReportByteLength;
    return device.release();
}

int WindowsHidTransport::hid_set_nonblocking(hid_device* device, int nonblock, int timeout) {
    if (device == nullptr) {
        return -1;
    }
    static_cast<Device*>(device)->timeout_ms =
        nonblock != 0 ? static_cast<std::uint32_t>(timeout) : kHidNoTimeout;
    return 0;
}

WindowsHidTransport::Transfer WindowsHidTransport::Finish(Device& device, OVERLAPPED& overlapped,
                                                          DWORD timeoutMs) {
    Transfer transfer;
    const HANDLE handle = device.device_handle.Get();
    if (overlapped.hEvent != nullptr) {
        const DWORD waited = calls_.WaitForSingleObject(overlapped.hEvent, timeoutMs);
        if (waited != WAIT_OBJECT_0) {
            const DWORD reason = waited == WAIT_FAILED ? calls_.GetLastError() : ERROR_TIMEOUT;
            calls_.CancelIo(handle);
            // A cancelled transfer still owns the caller's buffer and the OVERLAPPED until the
            // system has finished it, so its end is waited for before either is given back. One
            // that completed before the cancellation took hold counts as completed: its report
            // is delivered, not lost.
            transfer.ok =
                calls_.GetOverlappedResult(handle, &overlapped, &transfer.bytes, TRUE) != FALSE;
            transfer.completed = transfer.ok;
            transfer.error = reason;
            return transfer;
        }
    }
    transfer.completed = true;
    transfer.ok = calls_.GetOverlappedResult(handle, &overlapped, &transfer.bytes, TRUE) != FALSE;
    if (!transfer.ok) {
        transfer.error = calls_.GetLastError();
    }
    return transfer;
}

DWORD WindowsHidTransport::StripReportId(unsigned char* data, DWORD count) {
    if (count > 0 && data[0] == 0) {
        std::memmove(data, data + 1, count - 1);
        return count - 1;
    }
    return count;
}

int WindowsHidTransport::FinishUntimed(Device& device, OVERLAPPED& overlapped, BOOL started) {
    if (started == FALSE) {
        const DWORD error = calls_.GetLastError();
        if (error != ERROR_IO_PENDING) {
            RecordError(device, error);
            return -1;
        }
    }
    const Transfer transfer = Finish(device, overlapped, INFINITE);
    if (!transfer.ok) {
        RecordError(device, transfer.error);
        return -1;
    }
    return static_cast<int>(transfer.bytes);
}

std::optional<WindowsHidTransport::Transfer> WindowsHidTransport::TimedTransfer(
    Device& device, const std::function<BOOL(OVERLAPPED*)>& start) {
    const UniqueHandle event(calls_.CreateEventA(nullptr, FALSE, FALSE, nullptr),
                             &calls_.CloseHandle);
    if (!event.Valid()) {
        RecordError(device, calls_.GetLastError());
        return std::nullopt;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    if (start(&overlapped) == FALSE) {
        const DWORD error = calls_.GetLastError();
        if (error != ERROR_IO_PENDING) {
            RecordError(device, error);
            return std::nullopt;
        }
    }
    // Finished (completed or cancelled and collected) before the event is closed.
    return Finish(device, overlapped, device.timeout_ms);
}

int WindowsHidTransport::hid_write(hid_device* device, const unsigned char* data,
                                   std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    Device& d = *static_cast<Device*>(device);
    const std::optional<Transfer> transfer = TimedTransfer(d, [&](OVERLAPPED* overlapped) {
        return calls_.WriteFile(d.device_handle.Get(), data, ByteCount(length), nullptr,
                                overlapped);
    });
    if (!transfer) {
        return -1;
    }
    if (!transfer->completed) {
        RecordError(d, transfer->error);
        return -2;
    }
    if (!transfer->ok) {
        RecordError(d, transfer->error);
        return -1;
    }
    return static_cast<int>(transfer->bytes);
}

int WindowsHidTransport::hid_read_int(hid_device* device, unsigned char* data, std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    Device& d = *static_cast<Device*>(device);
    const std::int64_t size =
        std::min<std::int64_t>(static_cast<std::int64_t>(ByteCount(length)),
                               std::max<std::int32_t>(d.input_report_length, 0));
    const std::optional<Transfer> transfer = TimedTransfer(d, [&](OVERLAPPED* overlapped) {
        return calls_.ReadFile(d.device_handle.Get(), data, static_cast<DWORD>(size), nullptr,
                               overlapped);
    });
    if (!transfer) {
        return -1;
    }
    if (!transfer->completed) {
        return 0;  // a time-out is no failure: no error text
    }
    if (!transfer->ok) {
        RecordError(d, transfer->error);
        return -1;
    }
    return static_cast<int>(StripReportId(data, transfer->bytes));
}

int WindowsHidTransport::hid_read(hid_device* device, unsigned char* data, std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    Device& d = *static_cast<Device*>(device);
    if (length == 0) {
        RecordError(d, ERROR_INSUFFICIENT_BUFFER);
        return -1;
    }
    data[0] = 0;  // asks for input report 0
    // The device's time-out does not apply: the request waits for the device's answer.
    OVERLAPPED overlapped{};
    const int count = FinishUntimed(
        d, overlapped,
        calls_.DeviceIoControl(d.device_handle.Get(), IOCTL_HID_GET_INPUT_REPORT, nullptr, 0, data,
                               ByteCount(length), nullptr, &overlapped));
    return count < 0 ? count : static_cast<int>(StripReportId(data, static_cast<DWORD>(count)));
}

int WindowsHidTransport::GetString(hid_device* device,
                                   const std::function<BOOLEAN(HANDLE, PVOID, ULONG)>& service,
                                   wchar_t* string, std::size_t maxlen) {
    if (device == nullptr) {
        return -1;
    }
    Device& d = *static_cast<Device*>(device);
    if (!service) {
        RecordError(d, ERROR_PROC_NOT_FOUND);
        return -1;
    }
    const ULONG bytes = static_cast<ULONG>(std::min<std::size_t>(maxlen, MAXDWORD / 2) * 2);
    if (service(d.device_handle.Get(), string, bytes) == FALSE) {
        RecordError(d, calls_.GetLastError());
        return -1;
    }
    if (maxlen > 0) {
        string[maxlen - 1] = L'\0';  // terminated whatever the driver wrote
    }
    return 0;
}

int WindowsHidTransport::hid_get_product_string(hid_device* device, wchar_t* string,
                                                std::size_t maxlen) {
    return GetString(device, services_.HidD_GetProductString, string, maxlen);
}

int WindowsHidTransport::hid_get_manufacturer_string(hid_device* device, wchar_t* string,
                                                     std::size_t maxlen) {
    return GetString(device, services_.HidD_GetManufacturerString, string, maxlen);
}

int WindowsHidTransport::hid_get_serial_number_string(hid_device* device, wchar_t* string,
                                                      std::size_t maxlen) {
    return GetString(device, services_.HidD_GetSerialNumberString, string, maxlen);
}

int WindowsHidTransport::hid_get_indexed_string(hid_device* device, int string_index,
                                                wchar_t* string, std::size_t maxlen) {
    std::function<BOOLEAN(HANDLE, PVOID, ULONG)> indexed;
    if (services_.HidD_GetIndexedString) {
        indexed = [this, string_index](HANDLE handle, PVOID buffer, ULONG bytes) {
            return services_.HidD_GetIndexedString(handle, static_cast<ULONG>(string_index), buffer,
                                                   bytes);
        };
    }
    return GetString(device, indexed, string, maxlen);
}

int WindowsHidTransport::hid_send_feature_report(hid_device* device, const unsigned char* data,
                                                 std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    Device& d = *static_cast<Device*>(device);
    if (!services_.HidD_SetFeature) {
        RecordError(d, ERROR_PROC_NOT_FOUND);
        return -1;
    }
    // The service takes a writable buffer but does not write it.
    if (services_.HidD_SetFeature(d.device_handle.Get(), const_cast<unsigned char*>(data),
                                  ByteCount(length)) == FALSE) {
        RecordError(d, calls_.GetLastError());
        return -1;
    }
    return static_cast<int>(ByteCount(length));
}

int WindowsHidTransport::hid_get_feature_report(hid_device* device, unsigned char* data,
                                                std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    Device& d = *static_cast<Device*>(device);
    OVERLAPPED overlapped{};
    return FinishUntimed(
        d, overlapped,
        calls_.DeviceIoControl(d.device_handle.Get(), IOCTL_HID_GET_FEATURE, data,
                               ByteCount(length), data, ByteCount(length), nullptr, &overlapped));
}

int WindowsHidTransport::hid_write_untimed(hid_device* device, const unsigned char* data,
                                           std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    Device& d = *static_cast<Device*>(device);
    OVERLAPPED overlapped{};
    return FinishUntimed(
        d, overlapped,
        calls_.WriteFile(d.device_handle.Get(), data, ByteCount(length), nullptr, &overlapped));
}

void WindowsHidTransport::hid_close(hid_device* device) {
    if (device == nullptr) {
        return;
    }
    delete static_cast<Device*>(device);  // its handle closes with it
}

const wchar_t* WindowsHidTransport::hid_error(hid_device* device) {
    if (device == nullptr) {
        return nullptr;
    }
    const auto& text = static_cast<Device*>(device)->last_error_text;
    return text ? text->c_str() : nullptr;
}

}  // namespace ZELKUtil::Hid
