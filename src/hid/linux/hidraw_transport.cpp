#include "hid/linux/hidraw_transport.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <system_error>
#include <vector>

#include "hid/linux/hidraw_calls.h"
#include "hid/linux/report_writer.h"
#include "hid/linux/sysfs_file.h"
#include "hid/linux/usb_port.h"
#include "hid/report_descriptor.h"
#include "hid/uevent.h"
#include "hid/wide_text.h"
#include "platform/posix/unique_fd.h"
#include "platform/result.h"
#include "platform/utf8.h"

namespace ZELKUtil::Hid {
namespace {

using namespace HidrawCalls;  // the transport's own system calls

// The largest buffer size an ioctl request number can carry.
constexpr std::size_t kMaxIoctlSize = _IOC_SIZEMASK;

struct HidrawDevice : hid_device {
    UniqueFd fd;
    std::uint32_t timeout_ms = kHidNoTimeout;
    int input_report_length = -1;
    bool numberedReports = false;
    bool hasError = false;
    std::wstring last_error_text;
    std::unique_ptr<ReportWriter> writer;

    HidrawDevice() = default;
    HidrawDevice(const HidrawDevice&) = delete;
    HidrawDevice& operator=(const HidrawDevice&) = delete;
    ~HidrawDevice() override {
        writer.reset();  // before the fd goes: a write may still be using it
    }

    // The system's text for the error, cut at its first carriage return.
    void RecordError(int errorNumber) {
        std::string text = ErrnoText(errorNumber);
        const std::size_t cr = text.find('\r');
        if (cr != std::string::npos) {
            text.resize(cr);
        }
        last_error_text = Utf8ToWide(text);
        hasError = true;
    }
};

HidrawDevice* AsHidraw(hid_device* device) {
    return static_cast<HidrawDevice*>(device);
}

}  // namespace

HidrawTransport::HidrawTransport(std::string sysfsRoot, std::string devRoot, NodeNumber nodeNumber,
                                 DeviceChangeJournal* journal)
    : sysfsRoot_(std::move(sysfsRoot)),
      devRoot_(std::move(devRoot)),
      nodeNumber_(nodeNumber ? std::move(nodeNumber) : NodeNumber(CharacterDeviceOf)),
      journal_(journal) {}

hid_device_info* HidrawTransport::hid_enumerate(unsigned short vendor_id,
                                                unsigned short product_id) {
    return Enumerate(vendor_id, product_id, false, nullptr);
}

hid_device_info* HidrawTransport::Enumerate(unsigned short vendor_id, unsigned short product_id,
                                            bool confined, std::vector<HidOpenFailure>* failures) {
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const Node& node : Nodes()) {
        const bool wildcard = vendor_id == 0 && product_id == 0;
        if (!wildcard && (node.ids.vendor_id != vendor_id || node.ids.product_id != product_id)) {
            continue;
        }
        // A node on another port is not tried at all: its failure to open says nothing of the box.
        if (confined && !OnConfinedPort(node)) {
            continue;
        }
        // Listed only when this program could open it shared now.
        const char* operation = "";
        if (!OpenLocked(node.path.c_str(), LOCK_SH, &operation).Valid()) {
            NoteFailure(failures, node.path, operation, errno);
            continue;
        }
        auto* info = new hid_device_info;
        info->path = CopyString(node.path);
        info->vendor_id = node.ids.vendor_id;
        info->product_id = node.ids.product_id;
        *tail = info;
        tail = &info->next;
    }
    return head;
}

void HidrawTransport::hid_free_enumeration(hid_device_info* devices) {
    while (devices != nullptr) {
        hid_device_info* next = devices->next;
        std::free(devices->path);
        delete[] devices->serial_number;
        delete[] devices->manufacturer_string;
        delete[] devices->product_string;
        delete devices;
        devices = next;
    }
}

hid_device* HidrawTransport::hid_open(unsigned short vendor_id, unsigned short product_id,
                                      const wchar_t* serial_number, int exclusive) {
    openFailures_.clear();
    hid_device_info* devices = Enumerate(vendor_id, product_id, true, &openFailures_);
    const hid_device_info* chosen = nullptr;
    for (const hid_device_info* info = devices; info != nullptr; info = info->next) {
        if (info->vendor_id != vendor_id || info->product_id != product_id) {
            continue;
        }
        // Entries carry no serial number, so a serial number asked for matches none.
        if (serial_number != nullptr && (info->serial_number == nullptr ||
                                         std::wcscmp(serial_number, info->serial_number) != 0)) {
            continue;
        }
        chosen = info;
        break;
    }
    hid_device* device = nullptr;
    if (chosen != nullptr && chosen->path != nullptr) {
        device = OpenPath(chosen->path, exclusive, &openFailures_);
    }
    hid_free_enumeration(devices);
    return device;
}

hid_device* HidrawTransport::hid_open_path(const char* path, int exclusive) {
    return OpenPath(path, exclusive, nullptr);
}

hid_device* HidrawTransport::OpenPath(const char* path, int exclusive,
                                      std::vector<HidOpenFailure>* failures) {
    if (path == nullptr) {
        return nullptr;
    }
    auto device = std::make_unique<HidrawDevice>();
    const char* operation = "";
    device->fd = OpenLocked(path, exclusive != 0 ? LOCK_EX : LOCK_SH, &operation);
    if (!device->fd.Valid()) {
        NoteFailure(failures, path, operation, errno);
        return nullptr;
    }
    int descriptorSize = 0;
    if (::ioctl(device->fd.Get(), HIDIOCGRDESCSIZE, &descriptorSize) < 0) {
        NoteFailure(failures, path, "HIDIOCGRDESCSIZE", errno);
        return nullptr;
    }
    if (descriptorSize < 0 || descriptorSize > HID_MAX_DESCRIPTOR_SIZE) {
        NoteFailure(failures, path, "HIDIOCGRDESCSIZE", EMSGSIZE);
        return nullptr;
    }
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<__u32>(descriptorSize);
    if (::ioctl(device->fd.Get(), HIDIOCGRDESC, &descriptor) < 0) {
        NoteFailure(failures, path, "HIDIOCGRDESC", errno);
        return nullptr;
    }
    const auto layout =
        ParseReportDescriptor(descriptor.value, static_cast<std::size_t>(descriptorSize));
    if (!layout) {
        NoteFailure(failures, path, "report descriptor", EPROTO);
        return nullptr;
    }
    device->input_report_length = layout->input_report_length;
    device->numberedReports = layout->numberedReports;
    return device.release();
}

int HidrawTransport::hid_set_nonblocking(hid_device* device, int nonblock, int timeout) {
    if (device == nullptr) {
        return -1;  // a closed or never opened box: nothing to touch
    }
    AsHidraw(device)->timeout_ms =
        nonblock != 0 ? static_cast<std::uint32_t>(timeout) : kHidNoTimeout;
    return 0;
}

int HidrawTransport::hid_write(hid_device* device, const unsigned char* data, std::size_t length) {
    if (device == nullptr) {
        return -1;  // a closed or never opened box: nothing to touch
    }
    HidrawDevice* dev = AsHidraw(device);
    const auto deadline = DeadlineFor(dev->timeout_ms);
    if (!dev->writer) {
        try {
            dev->writer = std::make_unique<ReportWriter>(dev->fd.Get());
        } catch (const std::system_error& error) {
            dev->RecordError(error.code().value());
            return -1;
        }
    }
    const auto outcome = dev->writer->Write(data, length, deadline);
    if (outcome.timedOut) {
        dev->RecordError(outcome.errorNumber);
        return -2;
    }
    if (outcome.result < 0) {
        dev->RecordError(outcome.errorNumber);
        return -1;
    }
    return static_cast<int>(std::min<ssize_t>(outcome.result, INT_MAX));
}

int HidrawTransport::hid_write_untimed(hid_device* device, const unsigned char* data,
                                       std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    HidrawDevice* dev = AsHidraw(device);
    const std::uint32_t timeout = dev->timeout_ms;
    dev->timeout_ms = kHidNoTimeout;
    const int result = hid_write(device, data, length);
    dev->timeout_ms = timeout;
    return result;
}

int HidrawTransport::hid_read_int(hid_device* device, unsigned char* data, std::size_t length) {
    if (device == nullptr) {
        return -1;  // a closed or never opened box: nothing to touch
    }
    HidrawDevice* dev = AsHidraw(device);
    const auto deadline = DeadlineFor(dev->timeout_ms);
    // The transfer counts the report-ID byte. hidraw leaves that byte out for a device without
    // numbered reports, which is where a HID read would strip it, so one byte less is read.
    const long long transfer =
        std::min(static_cast<long long>(std::min<std::size_t>(length, INT_MAX)),
                 static_cast<long long>(dev->input_report_length));
    const long long readSize = dev->numberedReports ? transfer : transfer - 1;
    if (readSize <= 0) {
        dev->RecordError(EINVAL);
        return -1;
    }
    for (;;) {
        pollfd waiting{dev->fd.Get(), POLLIN, 0};
        const int ready = ::poll(&waiting, 1, PollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            dev->RecordError(errno);
            return -1;
        }
        if (ready == 0) {
            if (PollTimeout(deadline) == 0) {
                return 0;
            }
            continue;
        }
        if ((waiting.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            dev->RecordError(ENODEV);
            return -1;
        }
        const ssize_t got = ::read(dev->fd.Get(), data, static_cast<std::size_t>(readSize));
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            dev->RecordError(errno);
            return -1;
        }
        return static_cast<int>(got);
    }
}

int HidrawTransport::hid_read(hid_device* device, unsigned char* data, std::size_t length) {
    if (device == nullptr) {
        return -1;  // a closed or never opened box: nothing to touch
    }
    HidrawDevice* dev = AsHidraw(device);
    const std::size_t size = std::min(length, kMaxIoctlSize);
    if (size == 0) {
        dev->RecordError(EINVAL);
        return -1;
    }
    data[0] = 0;  // input report 0
    int got = -1;
    do {
        got = ::ioctl(dev->fd.Get(), HIDIOCGINPUT(size), data);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        dev->RecordError(errno);
        return -1;
    }
    return StripReportId(data, std::min(got, static_cast<int>(size)));
}

std::optional<std::string> HidrawTransport::OpenNodeFolder(hid_device* device) {
    HidrawDevice* dev = AsHidraw(device);
    // The fd itself tells whether the interface is still there: once it is gone the node's
    // number may already belong to another device.
    hidraw_devinfo info{};
    if (::ioctl(dev->fd.Get(), HIDIOCGRAWINFO, &info) < 0) {
        dev->RecordError(errno);
        return std::nullopt;
    }
    const auto node = nodeNumber_(dev->fd.Get());
    if (!node) {
        dev->RecordError(errno);
        return std::nullopt;
    }
    auto folder = CharDeviceFolder(sysfsRoot_, *node);
    if (!folder) {
        dev->RecordError(errno);
    }
    return folder;
}

int HidrawTransport::GetUsbString(hid_device* device, const char* attribute, wchar_t* string,
                                  std::size_t maxlen) {
    if (device == nullptr) {
        return -1;
    }
    HidrawDevice* dev = AsHidraw(device);
    const auto hidrawDir = OpenNodeFolder(device);
    if (!hidrawDir) {
        return -1;
    }
    std::optional<std::string> text;
    errno = 0;
    const auto usbDevice = UsbDeviceFolderOf(sysfsRoot_, *hidrawDir);
    if (usbDevice) {
        text = ReadAttribute(*usbDevice, attribute);
    } else if (std::strcmp(attribute, "product") == 0) {
        if (const auto uevent = ReadSmallFile(*hidrawDir + "/device/uevent")) {
            text = UeventValue(*uevent, "HID_NAME");
        }
    }
    if (!text) {
        dev->RecordError(errno != 0 ? errno : ENOENT);
        return -1;
    }
    if (!CopyTerminated(Utf8ToWide(*text), string, maxlen)) {
        dev->RecordError(EINVAL);
        return -1;
    }
    return 0;
}

std::string HidrawTransport::hid_port(hid_device* device) {
    if (device == nullptr) {
        return {};
    }
    const auto hidrawDir = OpenNodeFolder(device);
    return hidrawDir ? UsbPortOf(sysfsRoot_, *hidrawDir) : std::string();
}

int HidrawTransport::hid_get_product_string(hid_device* device, wchar_t* string,
                                            std::size_t maxlen) {
    return GetUsbString(device, "product", string, maxlen);
}

int HidrawTransport::hid_get_manufacturer_string(hid_device* device, wchar_t* string,
                                                 std::size_t maxlen) {
    return GetUsbString(device, "manufacturer", string, maxlen);
}

int HidrawTransport::hid_get_serial_number_string(hid_device* device, wchar_t* string,
                                                  std::size_t maxlen) {
    return GetUsbString(device, "serial", string, maxlen);
}

int HidrawTransport::hid_get_indexed_string(hid_device* device, int /*string_index*/,
                                            wchar_t* /*string*/, std::size_t /*maxlen*/) {
    if (device == nullptr) {
        return -1;
    }
    // hidraw offers no way to ask a device for a string descriptor by index.
    AsHidraw(device)->RecordError(EOPNOTSUPP);
    return -1;
}

int HidrawTransport::hid_send_feature_report(hid_device* device, const unsigned char* data,
                                             std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    HidrawDevice* dev = AsHidraw(device);
    if (length == 0 || length > kMaxIoctlSize) {
        dev->RecordError(EINVAL);
        return -1;
    }
    if (::ioctl(dev->fd.Get(), HIDIOCSFEATURE(length), data) < 0) {
        dev->RecordError(errno);
        return -1;
    }
    return static_cast<int>(length);
}

int HidrawTransport::hid_get_feature_report(hid_device* device, unsigned char* data,
                                            std::size_t length) {
    if (device == nullptr) {
        return -1;
    }
    HidrawDevice* dev = AsHidraw(device);
    if (length == 0 || length > kMaxIoctlSize) {
        dev->RecordError(EINVAL);
        return -1;
    }
    const int got = ::ioctl(dev->fd.Get(), HIDIOCGFEATURE(length), data);
    if (got < 0) {
        dev->RecordError(errno);
        return -1;
    }
    return got;
}

void HidrawTransport::hid_close(hid_device* device) {
    delete AsHidraw(device);
}

const wchar_t* HidrawTransport::hid_error(hid_device* device) {
    if (device == nullptr) {
        return nullptr;
    }
    HidrawDevice* dev = AsHidraw(device);
    return dev->hasError ? dev->last_error_text.c_str() : nullptr;
}

}  // namespace ZELKUtil::Hid
