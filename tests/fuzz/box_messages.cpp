// Everything the box and the system send in: the device class's every request and answer read
// through a transport whose input reports (on either pipe) and product string are the fuzzer's
// bytes, the message decoders and the diagnostics report directly, and the parsers of what the
// Linux backends read (report descriptors, uevent texts, UTF-8 product strings).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "device/diagnostics.h"
#include "device/messages.h"
#include "device/zelk.h"
#include "hid/report_descriptor.h"
#include "hid/uevent.h"
#include "hid/wide_text.h"
#include "platform/utf8.h"
#include "time/virtual_clock.h"

namespace {

// Hands out the input bytes as reports, 64 at a time; once they are used up the box is silent.
class InputTransport final : public HidTransport {
  public:
    explicit InputTransport(std::span<const std::uint8_t> input) : input_(input) {}

    // An open fails when the next byte is a multiple of 8.
    hid_device* hid_open(unsigned short, unsigned short, const wchar_t*, int) override {
        const std::span<const std::uint8_t> byte = Take(1);
        return byte.empty() || byte[0] % 8 != 0 ? &device_ : nullptr;
    }
    int hid_set_nonblocking(hid_device* d, int, int) override { return d != nullptr ? 0 : -1; }
    int hid_write(hid_device* d, const unsigned char*, std::size_t length) override {
        return d != nullptr ? static_cast<int>(length) : -1;
    }
    int hid_read_int(hid_device* d, unsigned char* data, std::size_t length) override {
        return Read(d, data, length);
    }
    int hid_read(hid_device* d, unsigned char* data, std::size_t length) override {
        return Read(d, data, length);
    }
    int hid_get_product_string(hid_device* d, wchar_t* string, std::size_t maxlen) override {
        if (d == nullptr || maxlen == 0) {
            return -1;
        }
        const std::span<const std::uint8_t> bytes = Take(32);
        const std::wstring text = ZELKUtil::Utf8ToWide(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return ZELKUtil::Hid::CopyTerminated(text, string, maxlen) ? 0 : -1;
    }
    void hid_close(hid_device*) override {}
    const wchar_t* hid_error(hid_device*) override { return nullptr; }
    std::vector<HidOpenFailure> hid_open_failures() override { return {}; }
    std::string hid_port(hid_device* /*device*/) override { return {}; }
    std::vector<std::string> hid_ports(unsigned short /*vid*/, unsigned short /*pid*/) override {
        return {};
    }
    void hid_confine_to_port(const std::optional<std::string>& /*port*/) override {}

  private:
    std::span<const std::uint8_t> Take(std::size_t n) {
        const std::span<const std::uint8_t> taken = input_.subspan(0, std::min(n, input_.size()));
        input_ = input_.subspan(taken.size());
        return taken;
    }
    int Read(hid_device* d, unsigned char* data, std::size_t length) {
        if (d == nullptr) {
            return -1;
        }
        std::fill_n(data, length, 0);
        const std::span<const std::uint8_t> report = Take(kReportDataSize);
        std::copy_n(report.begin(), std::min(report.size(), length), data);
        return report.empty() ? 0 : static_cast<int>(std::min(length, kReportDataSize));
    }

    struct Device : hid_device {};
    std::span<const std::uint8_t> input_;
    Device device_;
};

class FixedProbe final : public DeviceTreeProbe {
  public:
    explicit FixedProbe(int code) : code_(code) {}
    int FindDevice(int, int, int) override { return code_; }
    std::vector<ProbeMatch> FindDevices(int, int) override {
        return code_ >= 0 ? std::vector<ProbeMatch>{{"", code_}} : std::vector<ProbeMatch>{};
    }
    void ConfineToPort(const std::optional<std::string>& /*port*/) override {}

  private:
    int code_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    (void)ClassifyBoxMessage(input);
    (void)ReadMessageText(input, size > 0 ? data[0] % 72 : 0);
    (void)DecodeDiagnostics(input);
    (void)ZELKUtil::Hid::ParseReportDescriptor(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto id = ZELKUtil::Hid::UeventValue(text, "HID_ID")) {
        (void)ZELKUtil::Hid::ParseHidId(*id);
    }

    // The first byte picks the read path the firmware is known to take.
    ZELKSim::VirtualClock clock;
    InputTransport transport(input.subspan(std::min<std::size_t>(size, 1)));
    FixedProbe probe(size > 1 ? data[1] % 5 - 1 : -1);
    ReadPathModes modes{size > 0 ? data[0] & 1 : 0, size > 0 ? (data[0] >> 1) & 1 : 0};
    ZELK zelk(transport, probe, clock, modes);
    (void)zelk.GetVersion();
    (void)zelk.GetManufacturer();
    (void)zelk.GetSerial();
    (void)zelk.GetEye();
    (void)zelk.CheckEvent();
    (void)zelk.GetDiag();
    (void)zelk.EnableQ750AutoRing();
    (void)zelk.SetUSBIDs(0x14E3, 0x0706, "ABC123");
    (void)zelk.CheckForBootloader();
    (void)zelk.CheckForFpgaProg();
    (void)zelk.StartBootloader();
    return 0;
}
