#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ZELKUtil::Hid {

// Node status bits as the driver probe reports them.
inline constexpr std::uint32_t kDnDriverLoaded = 0x2;
inline constexpr std::uint32_t kDnStarted = 0x8;
inline constexpr std::uint32_t kDnHasProblem = 0x400;

// A property needing more than this many bytes (UTF-16, terminators included) is not fetched.
inline constexpr std::size_t kPropertyBufferBytes = 460;

// What the probe knows of one present USB device, in the system's device order. Texts are UTF-8.
struct UsbDeviceRecord {
    // Most specific first; nullopt when the device has none.
    std::optional<std::vector<std::string>> hardwareIds;
    // nullopt when the status query fails, which reads as status 0.
    std::optional<std::uint32_t> nodeStatus;
    // nullopt when the device has no description.
    std::optional<std::string> description;
};

// The two patterns that a device's first hardware ID is searched for: "vid_%04x&pid_%04x" and
// "vid%04x&pid%04x", lower-case.
class MatchPatterns {
  public:
    MatchPatterns(int vendor_id, int product_id);
    // Whether the ID, lower-cased, holds either pattern.
    bool Matches(const std::string& firstId) const;

  private:
    std::string withUnderscores_;
    std::string withoutUnderscores_;
};

// The running result of one walk over the devices: one code and one match-seen flag, carried
// across devices. The order of the calls for a matching device fixes the precedence: the problem
// bit overrides loaded-and-started, a description text overrides the status, and the package's
// text overrides the NXP driver's.
class ProbeWalk {
  public:
    // A device whose hardware-ID list needs more than the property buffer.
    void ExcludeOversizedDevice() { matchSeen_ = false; }
    // A matching device with its node status (0 when the query failed).
    void Match(std::uint32_t status);
    // Its description, as far as the property buffer holds it.
    void NxpDescription(const std::string& description);
    void PackageDescription(const std::string& description);
    int Result() const { return matchSeen_ ? code_ : -1; }

  private:
    int code_ = 0;
    bool matchSeen_ = false;
};

// Bytes the hardware-ID list occupies as a list of NUL-terminated UTF-16 strings ending in an
// empty one.
std::size_t HardwareIdListBytes(const std::vector<std::string>& hardwareIds);

// Sums up the driver state of the device with the IDs: -1 absent, 0 not ready, 1 a driver of
// neither known kind, 2 the NXP DFU driver, 3 the package's libusbK driver. verbose 0 stops at
// the first match; otherwise every device's first hardware ID is listed on listing and the walk
// goes to the end, carrying one running code and one match-seen flag.
int ClassifyUsbDevices(const std::vector<UsbDeviceRecord>& devices, int vendor_id, int product_id,
                       int verbose, std::ostream& listing);

}  // namespace ZELKUtil::Hid
