#pragma once

#include "emulated_box.h"
#include "hid/hid_transport.h"

namespace ZELKSim {

// The HID transport of an emulated box: every call goes to the box's USB side.
class EmulatedHidTransport final : public HidTransport {
  public:
    explicit EmulatedHidTransport(EmulatedBox& box) : box_(box) {}

    hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                         const wchar_t* serial_number, int exclusive) override {
        return box_.UsbOpen(vendor_id, product_id, serial_number, exclusive);
    }
    int hid_set_nonblocking(hid_device* device, int nonblock, int timeout) override {
        return box_.UsbSetTimeout(device, nonblock, timeout);
    }
    int hid_write(hid_device* device, const unsigned char* data, std::size_t length) override {
        return box_.UsbWrite(device, data, length);
    }
    int hid_read_int(hid_device* device, unsigned char* data, std::size_t length) override {
        return box_.UsbReadInterrupt(device, data, length);
    }
    int hid_read(hid_device* device, unsigned char* data, std::size_t length) override {
        return box_.UsbReadControl(device, data, length);
    }
    int hid_get_product_string(hid_device* device, wchar_t* string, std::size_t maxlen) override {
        return box_.UsbProductString(device, string, maxlen);
    }
    void hid_close(hid_device* device) override { box_.UsbClose(device); }
    const wchar_t* hid_error(hid_device* device) override { return box_.UsbError(device); }
    std::vector<HidOpenFailure> hid_open_failures() override { return box_.UsbOpenFailures(); }

  private:
    EmulatedBox& box_;
};

}  // namespace ZELKSim
