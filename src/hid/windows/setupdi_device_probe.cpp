#include "hid/windows/setupdi_device_probe.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "hid/probe_classification.h"
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
        return Windows::Narrow(
            std::wstring_view(buffer_.data(), ::wcsnlen(buffer_.data(), buffer_.size())));
    }

  private:
    const Win32Calls& calls_;
    HDEVINFO set_;
    std::array<wchar_t, kPropertyBufferBytes / sizeof(wchar_t)> buffer_{};
};

}  // namespace

SetupDiDeviceProbe::SetupDiDeviceProbe(const Win32Calls& calls, std::ostream& listing)
    : calls_(calls), listing_(listing) {}

int SetupDiDeviceProbe::FindDevice(int vendor_id, int product_id, int verbose) {
    const MatchPatterns patterns(vendor_id, product_id);
    const HDEVINFO set =
        calls_.SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return -1;
    }
    PropertyReader properties(calls_, set);
    ProbeWalk walk;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (calls_.SetupDiEnumDeviceInfo(set, index, &device) == FALSE) {
            break;
        }
        bool tooLarge = false;
        if (!properties.Fetch(device, SPDRP_HARDWAREID, tooLarge)) {
            if (tooLarge) {
                walk.ExcludeOversizedDevice();
            }
            continue;
        }
        const std::string firstId = properties.FirstString();
        if (verbose != 0) {
            listing_ << "Path: " << firstId << "\n";
        }
        if (!patterns.Matches(firstId)) {
            continue;
        }
        // The query's own result is not looked at; a configuration manager that answers without
        // writing (as some do) must leave status 0, not whatever was on the stack.
        ULONG status = 0;
        ULONG problem = 0;
        (void)calls_.CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0);
        walk.Match(status);
        if (properties.Fetch(device, SPDRP_DEVICEDESC, tooLarge)) {
            walk.NxpDescription(properties.FirstString());
        }
        if (properties.Fetch(device, SPDRP_DEVICEDESC, tooLarge)) {
            walk.PackageDescription(properties.FirstString());
        }
        if (verbose == 0) {
            break;
        }
    }
    calls_.SetupDiDestroyDeviceInfoList(set);
    return walk.Result();
}

}  // namespace ZELKUtil::Hid
