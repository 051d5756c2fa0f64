#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "device/messages.h"
#include "hid/device_probe.h"
#include "hid/hid_transport.h"
#include "platform/clock.h"

// Which read path works with this box's firmware, decided once for the whole process and shared by
// every ZELK object: each flag only ever goes from 0 to 1. The product keeps one instance for the
// process; tests create a fresh one each.
struct ReadPathModes {
    std::int32_t requestWorks = 0;
    std::int32_t tryIntFirst = 0;
};

// The USB IDs a box shows in normal mode unless a package's profile names others.
inline constexpr std::uint16_t kDefaultVid = 0x14E3;
inline constexpr std::uint16_t kDefaultPid = 0x0706;

// The host's handle on one box: opens its HID interface in normal mode, exchanges the framed
// messages with it and probes for its bootloader and FPGA-programmer modes. Every operation
// blocks until done and reports failure through its result, never by a message.
class ZELK {
  public:
    ZELK(HidTransport& transport, DeviceTreeProbe& probe, ZELKUtil::Clock& clock,
         ReadPathModes& modes);
    ~ZELK();
    ZELK(const ZELK&) = delete;
    ZELK& operator=(const ZELK&) = delete;

    std::int32_t Open();
    std::int32_t Close();
    std::int16_t getVid() const { return vid; }
    std::int16_t getPid() const { return pid; }
    void setVid(std::int16_t v) { vid = v; }
    void setPid(std::int16_t p) { pid = p; }

    std::string GetManufacturer();
    std::string GetVersion();
    std::string GetSerial();
    std::string GetDiag();
    std::string CheckEvent();
    std::string GetEye();
    std::int32_t EnableQ750AutoRing();
    std::int32_t CheckForBootloader();
    std::int32_t StartBootloader();
    std::int32_t CheckForFpgaProg();
    std::int32_t SetUSBIDs(std::int16_t v, std::int16_t p, const char* serial);

    bool IsOpen() const { return ZELK_handle != nullptr; }

    // The box is known by its USB port in every mode.
    // The port of the open handle's interface; "" when none is open or the system does not tell.
    std::string Port();
    // Every bootloader present, and every FPGA programmer's port.
    std::vector<ProbeMatch> Bootloaders();
    std::vector<std::string> ProgrammerPorts();
    // The port of the one bootloader present; "" when there is none, more than one, or the system
    // does not tell.
    std::string BootloaderPort();
    // The port of the one FPGA programmer present; "" as above.
    std::string ProgrammerPort();
    // The ports of the boxes on the bus now, in any mode: normal (under any of the IDs given),
    // bootloader or FPGA programmer. Boxes on the same port are one; every interface whose port
    // the system does not tell is one of its own ("").
    std::vector<std::string> BoxPorts(
        const std::vector<std::pair<std::uint16_t, std::uint16_t>>& normalIds);
    // Why the last open (Open, CheckForFpgaProg) could not open an interface it found.
    std::vector<HidOpenFailure> OpenFailures() { return transport_.hid_open_failures(); }

    // GetDiag gives up after this many messages with other IDs between request and answer, so
    // that a box that keeps sending events cannot hold the window's thread for ever.
    static constexpr int kMaxSkippedDiagMessages = 16;

  private:
    int read_packet(unsigned char* data, std::uint32_t timeout = 400);
    // One request/answer attempt on the open handle: true when the answer carries `awaited`.
    bool ExchangeOnce(const ReportBuffer& request, ids awaited, ReportBuffer& answer);
    bool WriteReport(const ReportBuffer& report);

    HidTransport& transport_;
    DeviceTreeProbe& probe_;
    ZELKUtil::Clock& clock_;
    ReadPathModes& modes_;

    hid_device* ZELK_handle = nullptr;
    std::int16_t vid = static_cast<std::int16_t>(kDefaultVid);
    std::int16_t pid = static_cast<std::int16_t>(kDefaultPid);
};
