#include "hidraw_testbed.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {

struct HidHandler {
    UMockdevIoctlBase parent;
    EmulatedHid* hid;
};
struct HidHandlerClass {
    UMockdevIoctlBaseClass parent_class;
};

// G_DEFINE_TYPE's expansion trips several of the project's warnings.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
G_DEFINE_TYPE(HidHandler, hid_handler, UMOCKDEV_TYPE_IOCTL_BASE)
#pragma GCC diagnostic pop

EmulatedHid* HidOf(UMockdevIoctlBase* base) {
    return reinterpret_cast<HidHandler*>(base)->hid;
}

template <typename T>
void CopyOut(UMockdevIoctlClient* client, const T* source, std::size_t size) {
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr);
    std::memcpy(data->data, source, size);
    g_object_unref(data);
}

gboolean OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    EmulatedHid* hid = HidOf(base);
    const std::lock_guard<std::mutex> lock(hid->mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    if (hid->unplugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = BUS_USB;
        info.vendor = static_cast<__s16>(hid->vendor_id);
        info.product = static_cast<__s16>(hid->product_id);
        CopyOut(client, &info, sizeof info);
        umockdev_ioctl_client_complete(client, 0, 0);
    } else if (request == HIDIOCGRDESCSIZE) {
        const int size = static_cast<int>(hid->report_descriptor.size());
        CopyOut(client, &size, sizeof size);
        umockdev_ioctl_client_complete(client, 0, 0);
    } else if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor descriptor{};
        descriptor.size = static_cast<__u32>(hid->report_descriptor.size());
        std::copy(hid->report_descriptor.begin(), hid->report_descriptor.end(), descriptor.value);
        CopyOut(client, &descriptor, sizeof descriptor);
        umockdev_ioctl_client_complete(client, 0, 0);
    } else if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == 0x0A) {  // HIDIOCGINPUT(len)
        const std::size_t size =
            std::min<std::size_t>(_IOC_SIZE(request), hid->control_report.size());
        CopyOut(client, hid->control_report.data(), size);
        umockdev_ioctl_client_complete(client, static_cast<glong>(size), 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
    return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    EmulatedHid* hid = HidOf(base);
    int delay_ms = 0;
    {
        const std::lock_guard<std::mutex> lock(hid->mutex);
        delay_ms = hid->write_delay_ms;
    }
    if (delay_ms > 0) {
        g_usleep(static_cast<gulong>(delay_ms) * 1000);  // a device that is slow to take the report
    }
    const std::lock_guard<std::mutex> lock(hid->mutex);
    if (hid->unplugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    hid->writes.emplace_back(arg->data, arg->data + arg->data_len);
    umockdev_ioctl_client_complete(client, static_cast<glong>(arg->data_len), 0);
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase* base, UMockdevIoctlClient* client) {
    EmulatedHid* hid = HidOf(base);
    const std::lock_guard<std::mutex> lock(hid->mutex);
    if (!hid->unplugged) {
        return FALSE;  // the real read() on the FIFO
    }
    umockdev_ioctl_client_complete(client, -1, EIO);
    return TRUE;
}

void hid_handler_class_init(HidHandlerClass* klass) {
    auto* base = reinterpret_cast<UMockdevIoctlBaseClass*>(klass);
    base->handle_ioctl = OnIoctl;
    base->handle_write = OnWrite;
    base->handle_read = OnRead;
}
void hid_handler_init(HidHandler* /*self*/) {}

// 64-byte input and output reports on a vendor page; with report ID 1 when numbered.
std::vector<std::uint8_t> Descriptor(bool numbered) {
    std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
    if (numbered) {
        d.insert(d.end(), {0x85, 0x01});
    }
    d.insert(d.end(), {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09,
                       0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0});
    return d;
}

std::string Take(gchar* text) {
    std::string copy = text;
    g_free(text);
    return copy;
}

}  // namespace

HidrawTestbed::HidrawTestbed() : testbed_(umockdev_testbed_new()) {
    root_ = Take(umockdev_testbed_get_root_dir(testbed_));
}

HidrawTestbed::~HidrawTestbed() {
    for (auto& hid : devices_) {
        if (hid->fifo >= 0) {
            ::close(hid->fifo);
        }
    }
    g_object_unref(testbed_);
    for (auto& hid : devices_) {
        if (hid->handler != nullptr) {
            g_object_unref(hid->handler);
        }
    }
}

EmulatedHid& HidrawTestbed::Add(unsigned minor, std::uint16_t vendor_id, std::uint16_t product_id,
                                const std::string& usb_product, bool numberedReports,
                                std::string port) {
    auto hid = std::make_unique<EmulatedHid>();
    hid->vendor_id = vendor_id;
    hid->product_id = product_id;
    hid->report_descriptor = Descriptor(numberedReports);
    char vid[8];
    char pid[8];
    std::snprintf(vid, sizeof vid, "%04x\n", vendor_id);
    std::snprintf(pid, sizeof pid, "%04x\n", product_id);
    const std::string n = std::to_string(minor);
    char hid_name[32];
    std::snprintf(hid_name, sizeof hid_name, "0003:%04X:%04X.%04X", vendor_id, product_id,
                  minor + 1);
    char hid_id[32];
    std::snprintf(hid_id, sizeof hid_id, "0003:%08X:%08X", vendor_id, product_id);
    if (port.empty()) {
        port = "1-" + n;
    }
    std::string parent;
    if (!usb_product.empty()) {
        const std::string bus = "usb" + port.substr(0, port.find('-')) + "/";
        hid->usb_syspath = Take(umockdev_testbed_add_device(
            testbed_, "usb", (bus + port).c_str(), nullptr, "idVendor", vid, "idProduct", pid,
            "product", (usb_product + "\n").c_str(), nullptr, "DEVTYPE", "usb_device", nullptr));
        parent = Take(umockdev_testbed_add_device(
            testbed_, "usb", (port + ":1.0").c_str(), hid->usb_syspath.c_str(), "bInterfaceClass",
            "03\n", nullptr, "DEVTYPE", "usb_interface", nullptr));
    }
    const std::string hid_dir = Take(umockdev_testbed_add_device(
        testbed_, "hid", hid_name, parent.empty() ? nullptr : parent.c_str(), nullptr, "HID_ID",
        hid_id, "HID_NAME", "Virtual HID", nullptr));
    hid->hidraw_syspath = Take(umockdev_testbed_add_device(
        testbed_, "hidraw", ("hidraw/hidraw" + n).c_str(), hid_dir.c_str(), "dev",
        ("243:" + n).c_str(), nullptr, "DEVNAME", ("hidraw" + n).c_str(), "MAJOR", "243", "MINOR",
        n.c_str(), nullptr));
    umockdev_testbed_set_attribute_link(testbed_, hid->hidraw_syspath.c_str(), "device",
                                        ("../../../" + std::string(hid_name)).c_str());

    const std::string node = root_ + "/dev/hidraw" + n;
    g_mkdir_with_parents((root_ + "/dev").c_str(), 0755);
    ::unlink(node.c_str());
    if (::mkfifo(node.c_str(), 0666) != 0) {
        throw std::runtime_error("mkfifo: " + std::string(std::strerror(errno)));
    }
    hid->fifo = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (hid->fifo < 0 || ::fcntl(hid->fifo, F_SETFL, O_NONBLOCK | O_DIRECT) != 0) {
        throw std::runtime_error("fifo: " + std::string(std::strerror(errno)));
    }
    struct stat fifo_stat {};
    if (::fstat(hid->fifo, &fifo_stat) != 0) {
        throw std::runtime_error("fstat: " + std::string(std::strerror(errno)));
    }
    nodeNumbers_[fifo_stat.st_ino] = makedev(243, minor);
    // umockdev does not make the /sys/dev/char link that the kernel makes.
    const std::string char_dir = root_ + "/sys/dev/char";
    g_mkdir_with_parents(char_dir.c_str(), 0755);
    const std::string link = char_dir + "/243:" + n;
    ::unlink(link.c_str());
    if (::symlink((root_ + hid->hidraw_syspath).c_str(), link.c_str()) != 0) {
        throw std::runtime_error("symlink: " + std::string(std::strerror(errno)));
    }
    auto* handler = static_cast<HidHandler*>(g_object_new(hid_handler_get_type(), nullptr));
    handler->hid = hid.get();
    hid->handler = handler;
    if (!umockdev_testbed_attach_ioctl(testbed_, ("/dev/hidraw" + n).c_str(),
                                       reinterpret_cast<UMockdevIoctlBase*>(handler), nullptr)) {
        throw std::runtime_error("attach_ioctl failed");
    }
    devices_.push_back(std::move(hid));
    return *devices_.back();
}

void HidrawTestbed::Forbid(unsigned minor) {
    // umockdev's preload talks to the testbed through sockets under ioctl/ at every open of a
    // node, whether or not the open works: another user must be able to reach them.
    namespace fs = std::filesystem;
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    for (const auto& entry : fs::recursive_directory_iterator(root_ + "/ioctl")) {
        fs::permissions(entry.path(), fs::perms::all);
    }
    fs::permissions(root_ + "/ioctl", fs::perms::all);
    fs::permissions(root_ + "/dev/hidraw" + std::to_string(minor), fs::perms::none);
}

void HidrawTestbed::SendInput(EmulatedHid& hid, const std::vector<std::uint8_t>& report) {
    const std::lock_guard<std::mutex> lock(hid.mutex);
    if (::write(hid.fifo, report.data(), report.size()) != static_cast<ssize_t>(report.size())) {
        throw std::runtime_error("fifo write: " + std::string(std::strerror(errno)));
    }
}

std::optional<dev_t> HidrawTestbed::NodeNumberOf(int fd) const {
    struct stat node {};
    if (::fstat(fd, &node) != 0) {
        return std::nullopt;
    }
    const auto found = nodeNumbers_.find(node.st_ino);
    if (found == nodeNumbers_.end()) {
        errno = ENOTTY;
        return std::nullopt;
    }
    return found->second;
}

void HidrawTestbed::Unplug(EmulatedHid& hid) {
    umockdev_testbed_uevent(testbed_, hid.hidraw_syspath.c_str(), "remove");
    if (!hid.usb_syspath.empty()) {
        umockdev_testbed_uevent(testbed_, hid.usb_syspath.c_str(), "remove");
    }
    umockdev_testbed_remove_device(testbed_, hid.hidraw_syspath.c_str());
    if (!hid.usb_syspath.empty()) {
        umockdev_testbed_remove_device(testbed_, hid.usb_syspath.c_str());
    }
    const std::lock_guard<std::mutex> lock(hid.mutex);
    hid.unplugged = true;
    const std::uint8_t wake = 0;  // wakes a poll(); the read then fails as on a vanished node
    if (::write(hid.fifo, &wake, 1) != 1) {
        throw std::runtime_error("fifo write: " + std::string(std::strerror(errno)));
    }
}
