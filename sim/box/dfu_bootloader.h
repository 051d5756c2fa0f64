#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "box/emulated_box.h"

namespace ZELKSim {

// The box's ARM firmware images as the emulation understands them: any payload, then a trailer
// that carries the version and a CRC-32 of everything before the CRC, so that a download that
// loses, repeats or garbles a block is seen as a wrong version when the box comes back.
std::string MakeFirmwareImage(const std::string& version, std::size_t size);
// The version an image carries; nullopt when it is not a whole, intact image.
std::optional<std::string> FirmwareImageVersion(std::span<const unsigned char> image);

// A download that ended with its zero-length block: when its first block and its end came, on the
// bootloader's clock (boxes that share a clock can be compared), and how many bytes it brought.
struct CompletedDownload {
    std::int64_t firstBlockMs = 0;
    std::int64_t endMs = 0;
    std::size_t bytes = 0;

    std::int64_t Ms() const { return endMs - firstBlockMs; }
};

// The eight bytes of a USB control request.
struct UsbSetup {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;

    bool In() const { return (requestType & 0x80U) != 0; }
};

// The device's answer: a stall of the request, or the IN data stage; an OUT request with a data
// stage that is not stalled expects its data through Receive.
struct ControlReply {
    bool stall = false;
    std::vector<unsigned char> data;
};

// How the bootloader misbehaves.
struct DfuFaults {
    // The ROM refuses the download: every DNLOAD stalls and leaves the device in dfuERROR.
    bool refusesDownload = false;
    // The bootloader's IDs, but a vendor-specific interface where the DFU interface should be.
    bool noDfuInterface = false;
    // The box is pulled out once this many image bytes have arrived (0: never).
    std::size_t vanishAfterBytes = 0;
};

// The box's LPC3131 ROM bootloader as a USB DFU device in DFU mode (VID 0x0471, PID 0xDF55): its
// interface descriptor and its answers to the DFU class requests (DNLOAD, UPLOAD, GETSTATUS,
// CLRSTATUS, GETSTATE, ABORT; DETACH stalls, as there is no run-time mode to detach from). It
// takes blocks of up to 2048 bytes and is not manifestation-tolerant: after the last block it
// waits for a bus reset, and at that reset the box starts the firmware it received, or its old
// one when the image is not intact. Whatever carries the control requests (a gadget on a real USB
// bus) calls Control, Receive and BusReset. Thread-safe.
class DfuBootloader {
  public:
    static constexpr std::uint16_t kTransferSize = 2048;

    // `clock` times the downloads.
    DfuBootloader(EmulatedBox& box, Timeline& clock, DfuFaults faults = {});

    // One interface without endpoints: DFU (class 0xFE, subclass 1, protocol 2), or
    // vendor-specific.
    std::vector<unsigned char> InterfaceDescriptor() const;
    // One class request to the interface.
    ControlReply Control(const UsbSetup& setup);
    // The data stage of the DNLOAD that Control accepted last.
    void Receive(std::span<const unsigned char> data);
    // A bus reset, as dfu-util -R gives one after the download.
    void BusReset();
    // The last complete download; nullopt before.
    std::optional<CompletedDownload> LastDownload() const;

  private:
    enum State : std::uint8_t {
        kDfuIdle = 2,
        kDnloadSync = 3,
        kDnloadIdle = 5,
        kManifestSync = 6,
        kManifest = 7,
        kManifestWaitReset = 8,
        kUploadIdle = 9,
        kError = 10,
    };

    ControlReply Download(const UsbSetup& setup);
    ControlReply Upload(const UsbSetup& setup);
    ControlReply Status();
    ControlReply Fail(std::uint8_t status);

    EmulatedBox& box_;
    Timeline& clock_;
    const DfuFaults faults_;
    mutable std::mutex mutex_;
    State state_ = kDfuIdle;
    std::uint8_t status_ = 0;
    std::vector<unsigned char> image_;
    std::size_t expected_ = 0;  // bytes of the accepted DNLOAD's data stage
    bool brokenBlock_ = false;
    std::size_t uploaded_ = 0;
    std::int64_t firstBlockMs_ = 0;
    std::optional<CompletedDownload> lastDownload_;
};

}  // namespace ZELKSim
