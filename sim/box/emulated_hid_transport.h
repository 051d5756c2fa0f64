#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "box/emulated_bus.h"
#include "hid/hid_transport.h"

namespace ZELKSim {

// The HID transport of an emulated bus: an open goes to the boxes in port order, as an
// enumeration lists them, and every call on a record goes to the box that opened it.
class EmulatedHidTransport final : public HidTransport {
  public:
    explicit EmulatedHidTransport(EmulatedBox& box) : own_(box), bus_(own_) {}
    explicit EmulatedHidTransport(const EmulatedBus& bus) : bus_(bus) {}

    hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                         const wchar_t* serial_number, int exclusive) override;
    int hid_set_nonblocking(hid_device* device, int nonblock, int timeout) override;
    int hid_write(hid_device* device, const unsigned char* data, std::size_t length) override;
    int hid_read_int(hid_device* device, unsigned char* data, std::size_t length) override;
    int hid_read(hid_device* device, unsigned char* data, std::size_t length) override;
    int hid_get_product_string(hid_device* device, wchar_t* string, std::size_t maxlen) override;
    void hid_close(hid_device* device) override;
    const wchar_t* hid_error(hid_device* device) override;
    std::vector<HidOpenFailure> hid_open_failures() override { return openFailures_; }
    std::string hid_port(hid_device* device) override;
    std::vector<std::string> hid_ports(unsigned short vendor_id,
                                       unsigned short product_id) override;
    void hid_confine_to_port(const std::optional<std::string>& port) override { port_ = port; }

  private:
    // The box whose record it is; the first box stands in for a record nobody opened (a null
    // one), whose calls it refuses as every box does.
    EmulatedBox* Owner(hid_device* device) const;

    EmulatedBus own_;
    const EmulatedBus& bus_;
    std::optional<std::string> port_;
    std::map<hid_device*, EmulatedBox*> owners_;
    std::vector<HidOpenFailure> openFailures_;  // of the last open
};

}  // namespace ZELKSim
