#include "hid/windows/setupdi_device_probe.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "hid/probe_classification.h"
#include "hid/windows/device_notifications.h"
#include "hid/windows/usb_port.h"
#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil::Hid {
namespace {

// Fetches a device's registry properties into one buffer of 230 wide characters: a property that
// needs more is not fetched.
class PropertyReader {
  public:
    PropertyReader(const Win32Calls& calls, HDEVINFO set) : calls_(calls), set_(set) {}

    // False when the property cannot be sized, needs more than the buffer (tooLarge), or cannot be
    // fetched.
    bool Fetch(SP_DEVINFO_DATA& device, DWORD property, bool& tooLarge) {
        tooLarge = false;
        DWORD needed = 0;
        if (calls_.SetupDiGetDeviceRegistryPropertyW(set_, &device, property, nullptr, nullptr, 0,
                                                     &needed) != FALSE ||
            calls_.GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return false;
        }
        if (needed > kPropertyBufferBytes) {
            tooLarge = true;
            return false;
        }
        buffer_.fill(L'\0');
        return calls_.SetupDiGetDeviceRegistryPropertyW(set_, &device, property, nullptr,
                                                        reinterpret_cast<PBYTE>(buffer_.data()),
                                                        kPropertyBufferBytes, nullptr) != FALSE;
    }

    // The first string of the last property fetched, as far as the buffer holds it.
    std::string FirstString() const {
        return WideToUtf8(
            std::wstring_view(buffer_.data(), ::wcsnlen(buffer_.data(), buffer_.size())));
    }

  private:
    const Win32Calls& calls_;
    HDEVINFO set_;
    std::array<wchar_t, kPropertyBufferBytes / sizeof(wchar_t)> buffer_{};
};

// What a device is to the probe's walk.
enum class Seen { Passed, Oversized, Matching };

// One pass over the present devices of the "USB" enumerator, of every setup class, on the port
// the probe is confined to (all when it is not).
class UsbDevices {
  public:
    UsbDevices(const Win32Calls& calls, const std::optional<std::string>& confinedPort)
        : calls_(calls),
          confinedPort_(confinedPort),
          set_(calls.SetupDiGetClassDevsW(nullptr, L"USB", nullptr,
                                          DIGCF_PRESENT | DIGCF_ALLCLASSES)),
          properties_(calls, set_) {}
    ~UsbDevices() {
        if (set_ != INVALID_HANDLE_VALUE) {
            calls_.SetupDiDestroyDeviceInfoList(set_);
        }
    }
    UsbDevices(const UsbDevices&) = delete;
    UsbDevices& operator=(const UsbDevices&) = delete;

    // The next device; false past the last one, or when the list cannot be had.
    bool Next(SP_DEVINFO_DATA& device) {
        if (set_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        for (;;) {
            device = SP_DEVINFO_DATA{};
            device.cbSize = sizeof device;
            if (calls_.SetupDiEnumDeviceInfo(set_, index_++, &device) == FALSE) {
                return false;
            }
            if (!confinedPort_ || PortOfNode(calls_, device.DevInst) == *confinedPort_) {
                return true;
            }
        }
    }

    // Whether the device's first hardware ID matches; listed first when verbose.
    Seen Examine(SP_DEVINFO_DATA& device, const MatchPatterns& patterns, int verbose,
                 std::ostream& listing) {
        bool tooLarge = false;
        if (!properties_.Fetch(device, SPDRP_HARDWAREID, tooLarge)) {
            return tooLarge ? Seen::Oversized : Seen::Passed;
        }
        const std::string firstId = properties_.FirstString();
        if (verbose != 0) {
            listing << "Path: " << firstId << "\n";
        }
        return patterns.Matches(firstId) ? Seen::Matching : Seen::Passed;
    }

    // A matching device's node status and descriptions, added to the walk.
    void Classify(SP_DEVINFO_DATA& device, ProbeWalk& walk) {
        // The query's own result is not looked at; a configuration manager that answers without
        // writing (as some do) must leave status 0, not whatever was on the stack.
        ULONG status = 0;
        ULONG problem = 0;
        (void)calls_.CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0);
        walk.Match(status);
        bool tooLarge = false;
        if (properties_.Fetch(device, SPDRP_DEVICEDESC, tooLarge)) {
            walk.NxpDescription(properties_.FirstString());
        }
        if (properties_.Fetch(device, SPDRP_DEVICEDESC, tooLarge)) {
            walk.PackageDescription(properties_.FirstString());
        }
    }

  private:
    const Win32Calls& calls_;
    const std::optional<std::string>& confinedPort_;
    HDEVINFO set_;
    PropertyReader properties_;
    DWORD index_ = 0;
};

}  // namespace

SetupDiDeviceProbe::SetupDiDeviceProbe(const Win32Calls& calls, std::ostream& listing,
                                       DeviceChangeJournal* journal)
    : calls_(calls), listing_(listing), journal_(journal) {}

void SetupDiDeviceProbe::ConfineToPort(const std::optional<std::string>& port) {
    if (port != confinedPort_) {
        kept_ = {};
        keptMatches_ = {};
    }
    confinedPort_ = port;
}

int SetupDiDeviceProbe::FindDevice(int vendor_id, int product_id, int verbose) {
    if (verbose != 0) {
        return Walk(vendor_id, product_id, verbose);
    }
    return kept_.For(vendor_id, product_id)
        .Get(
            journal_, kDeviceNotifications, [&] { return Walk(vendor_id, product_id, 0); },
            [](int code) { return code != 0; });
}

std::vector<ProbeMatch> SetupDiDeviceProbe::FindDevices(int vendor_id, int product_id) {
    return keptMatches_.For(vendor_id, product_id)
        .Get(
            journal_, kDeviceNotifications, [&] { return WalkMatches(vendor_id, product_id); },
            [](const std::vector<ProbeMatch>& found) {
                return std::none_of(found.begin(), found.end(),
                                    [](const ProbeMatch& match) { return match.code == 0; });
            });
}

int SetupDiDeviceProbe::Walk(int vendor_id, int product_id, int verbose) {
    const MatchPatterns patterns(vendor_id, product_id);
    UsbDevices devices(calls_, confinedPort_);
    ProbeWalk walk;
    SP_DEVINFO_DATA device{};
    while (devices.Next(device)) {
        const Seen seen = devices.Examine(device, patterns, verbose, listing_);
        if (seen == Seen::Oversized) {
            walk.ExcludeOversizedDevice();
        }
        if (seen != Seen::Matching) {
            continue;
        }
        devices.Classify(device, walk);
        if (verbose == 0) {
            break;
        }
    }
    return walk.Result();
}

std::vector<ProbeMatch> SetupDiDeviceProbe::WalkMatches(int vendor_id, int product_id) {
    const MatchPatterns patterns(vendor_id, product_id);
    UsbDevices devices(calls_, confinedPort_);
    std::vector<ProbeMatch> found;
    SP_DEVINFO_DATA device{};
    while (devices.Next(device)) {
        if (devices.Examine(device, patterns, 0, listing_) != Seen::Matching) {
            continue;
        }
        // Its code as FindDevice gives it when this device is the only one.
        ProbeWalk alone;
        devices.Classify(device, alone);
        found.push_back(
            {confinedPort_ ? *confinedPort_ : PortOfNode(calls_, device.DevInst), alone.Result()});
    }
    return found;
}

}  // namespace ZELKUtil::Hid
