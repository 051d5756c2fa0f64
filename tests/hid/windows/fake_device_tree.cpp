#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <string>

#include "fake_windows.h"

// The fake's device tree: the USB hub, the USB devices below it and their HID interfaces, as the
// configuration manager's calls walk it.
namespace ZELKUtil::Testing {

std::wstring FakeWindows::NodeId(DEVINST node) const {
    if (node == kRootNode) {
        return L"HTREE\\ROOT\\0";
    }
    if (node == kHubNode) {
        return L"USB\\ROOT_HUB30\\4&2CE0EA6&0&0";
    }
    if (node >= kHidNodes && node - kHidNodes < hid.size()) {
        return hid[node - kHidNodes].instanceId;
    }
    return node >= 1 && node <= usb.size() ? usb[node - 1].instanceId : L"";
}

std::optional<DEVINST> FakeWindows::ParentOf(DEVINST node) const {
    const auto usbNode = [](std::size_t index) { return static_cast<DEVINST>(index + 1); };
    if (node == kHubNode) {
        return kRootNode;
    }
    if (node >= kHidNodes && node - kHidNodes < hid.size()) {
        const std::optional<std::size_t> parent = hid[node - kHidNodes].usbParent;
        return parent ? usbNode(*parent) : kRootNode;
    }
    if (node >= 1 && node <= usb.size()) {
        const std::optional<std::size_t> parent = usb[node - 1].parent;
        return parent ? usbNode(*parent) : kHubNode;
    }
    return std::nullopt;  // the root, or no node at all
}

void FakeWindows::AnswerDeviceTree(Hid::Win32Calls& c) {
    c.CM_Get_Device_IDW = [this](DEVINST node, PWSTR buffer, ULONG length, ULONG) {
        const std::wstring id = NodeId(node);
        if (id.empty()) {
            return static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE);
        }
        if (length < id.size() + 1) {
            return static_cast<CONFIGRET>(CR_BUFFER_SMALL);
        }
        std::memcpy(buffer, id.c_str(), (id.size() + 1) * sizeof(wchar_t));
        return static_cast<CONFIGRET>(CR_SUCCESS);
    };
    c.CM_Get_Parent = [this](PDEVINST parent, DEVINST node, ULONG) {
        const std::optional<DEVINST> found = ParentOf(node);
        if (!found) {
            return static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE);
        }
        *parent = *found;
        return static_cast<CONFIGRET>(CR_SUCCESS);
    };
    c.SetupDiCreateDeviceInfoList = [this](const GUID* setupClass, HWND) {
        EXPECT_EQ(setupClass, nullptr) << "a list of one setup class could not hold every device";
        return static_cast<HDEVINFO>(NewHandle({Handle::Kind::OwnSet}));
    };
    // Only the devices of the USB enumerator are opened by instance ID; IDs compare in any case.
    c.SetupDiOpenDeviceInfoW = [this](HDEVINFO set, PCWSTR id, HWND, DWORD, PSP_DEVINFO_DATA data) {
        const Handle* handle = Find(set);
        if (handle == nullptr || handle->kind != Handle::Kind::OwnSet ||
            data->cbSize != sizeof(SP_DEVINFO_DATA)) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        for (std::size_t i = 0; i < usb.size(); ++i) {
            if (!usb[i].instanceId.empty() && ::_wcsicmp(usb[i].instanceId.c_str(), id) == 0) {
                data->DevInst = static_cast<DEVINST>(i + 1);
                return TRUE;
            }
        }
        return Fail(ERROR_NO_SUCH_DEVINST);
    };
}

}  // namespace ZELKUtil::Testing
