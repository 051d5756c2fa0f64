#include "box/emulated_hid_transport.h"

namespace ZELKSim {

hid_device* EmulatedHidTransport::hid_open(unsigned short vendor_id, unsigned short product_id,
                                           const wchar_t* serial_number, int exclusive) {
    openFailures_.clear();
    for (EmulatedBox* box : bus_.On(port_)) {
        hid_device* device = box->UsbOpen(vendor_id, product_id, serial_number, exclusive);
        if (device != nullptr) {
            owners_[device] = box;
            openFailures_.clear();
            return device;
        }
        for (const HidOpenFailure& failure : box->UsbOpenFailures()) {
            openFailures_.push_back(failure);
        }
    }
    return nullptr;
}

EmulatedBox* EmulatedHidTransport::Owner(hid_device* device) const {
    const auto found = owners_.find(device);
    if (found != owners_.end()) {
        return found->second;
    }
    return bus_.Boxes().empty() ? nullptr : bus_.Boxes().front();
}

int EmulatedHidTransport::hid_set_nonblocking(hid_device* device, int nonblock, int timeout) {
    EmulatedBox* box = Owner(device);
    return box != nullptr ? box->UsbSetTimeout(device, nonblock, timeout) : -1;
}

int EmulatedHidTransport::hid_write(hid_device* device, const unsigned char* data,
                                    std::size_t length) {
    EmulatedBox* box = Owner(device);
    return box != nullptr ? box->UsbWrite(device, data, length) : -1;
}

int EmulatedHidTransport::hid_read_int(hid_device* device, unsigned char* data,
                                       std::size_t length) {
    EmulatedBox* box = Owner(device);
    return box != nullptr ? box->UsbReadInterrupt(device, data, length) : -1;
}

int EmulatedHidTransport::hid_read(hid_device* device, unsigned char* data, std::size_t length) {
    EmulatedBox* box = Owner(device);
    return box != nullptr ? box->UsbReadControl(device, data, length) : -1;
}

int EmulatedHidTransport::hid_get_product_string(hid_device* device, wchar_t* string,
                                                 std::size_t maxlen) {
    EmulatedBox* box = Owner(device);
    return box != nullptr ? box->UsbProductString(device, string, maxlen) : -1;
}

void EmulatedHidTransport::hid_close(hid_device* device) {
    if (EmulatedBox* box = Owner(device)) {
        box->UsbClose(device);
    }
    owners_.erase(device);
}

const wchar_t* EmulatedHidTransport::hid_error(hid_device* device) {
    EmulatedBox* box = Owner(device);
    return box != nullptr ? box->UsbError(device) : nullptr;
}

std::string EmulatedHidTransport::hid_port(hid_device* device) {
    const auto found = owners_.find(device);
    return found != owners_.end() ? found->second->Port() : std::string();
}

std::vector<std::string> EmulatedHidTransport::hid_ports(unsigned short vendor_id,
                                                         unsigned short product_id) {
    std::vector<std::string> ports;
    for (EmulatedBox* box : bus_.On(port_)) {
        if (box->UsbPresents(vendor_id, product_id)) {
            ports.push_back(box->Port());
        }
    }
    return ports;
}

}  // namespace ZELKSim
