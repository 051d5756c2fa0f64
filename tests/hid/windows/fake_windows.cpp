#include "fake_windows.h"

#include <gtest/gtest.h>
#include <winioctl.h>
extern "C" {
#include <hidclass.h>
}

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace ZELKUtil::Testing {
namespace {

// Copies a report into a transfer's buffer, as much as it holds.
DWORD CopyReport(const std::vector<std::uint8_t>& report, unsigned char* buffer, DWORD size) {
    const DWORD count = std::min<DWORD>(size, static_cast<DWORD>(report.size()));
    std::memcpy(buffer, report.data(), count);
    return count;
}

// A property's value as the system stores it: one string, or a list of them ending in an empty one.
std::wstring MultiString(const std::vector<std::wstring>& strings) {
    std::wstring value;
    for (const std::wstring& text : strings) {
        value += text;
        value += L'\0';
    }
    return value + L'\0';
}

// Counts every call of the table's entries.
template <typename... Entries>
void CountCalls(Hid::Win32Calls& table, int& count, Entries... entries) {
    const auto wrap = [&](auto entry) {
        table.*entry = [inner = table.*entry, &count](auto... arguments) {
            ++count;
            return inner(arguments...);
        };
    };
    (wrap(entries), ...);
}

}  // namespace

HANDLE FakeWindows::NewHandle(Handle handle) {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = handle;
    // A fake handle is a number that only this table gives meaning to.
    return reinterpret_cast<HANDLE>(value);  // NOLINT(performance-no-int-to-ptr)
}

FakeWindows::Handle* FakeWindows::Find(HANDLE handle) {
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == handles_.end() ? nullptr : &it->second;
}

FakeWindows::HidInterface* FakeWindows::DeviceOf(HANDLE file) {
    const Handle* handle = Find(file);
    if (handle == nullptr || handle->kind != Handle::Kind::File) {
        return nullptr;
    }
    return &hid[handle->device];
}

void FakeWindows::Complete(Transfer& transfer, HidInterface& device) {
    transfer.done = true;
    if (device.vanished) {
        transfer.ok = false;
        transfer.error = ERROR_DEVICE_NOT_CONNECTED;
        return;
    }
    transfer.ok = true;
    transfer.bytes =
        CopyReport(device.interruptReports.front().second, transfer.buffer, transfer.size);
    device.interruptReports.pop_front();
}

BOOL FakeWindows::Start(HANDLE file, LPOVERLAPPED overlapped, Transfer transfer) {
    HidInterface* device = DeviceOf(file);
    if (device == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (device->vanished) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    EXPECT_EQ(transfers_.count(overlapped), 0U) << "an OVERLAPPED reused while in flight";
    switch (transfer.kind) {
        case Transfer::Kind::Write:
            if (device->writes == HidInterface::Writes::Accepted) {
                transfer.done = transfer.ok = true;
                transfer.bytes = transfer.size;
            } else if (device->writes == HidInterface::Writes::Fail) {
                transfer.done = true;
                transfer.error = ERROR_GEN_FAILURE;
            }
            break;
        case Transfer::Kind::Read:
            if (!device->interruptReports.empty()) {
                if (device->interruptReports.front().first == 0) {
                    Complete(transfer, *device);
                } else {
                    transfer.dueIn = device->interruptReports.front().first;
                }
            }
            break;
        case Transfer::Kind::Control:
            transfer.done = true;
            if (device->controlReport) {
                transfer.ok = true;
                transfer.bytes = CopyReport(*device->controlReport, transfer.buffer, transfer.size);
            } else {
                transfer.error = ERROR_GEN_FAILURE;
            }
            break;
    }
    transfers_[overlapped] = {file, transfer};
    if (transfer.done) {
        if (Handle* event = Find(overlapped->hEvent)) {
            event->signalled = true;
        }
        return TRUE;  // completed at once, as Windows may report
    }
    return Fail(ERROR_IO_PENDING);
}

BOOL FakeWindows::Property(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PBYTE buffer,
                           DWORD size, PDWORD needed) {
    const Handle* handle = Find(set);
    if (handle == nullptr ||
        (handle->kind != Handle::Kind::UsbSet && handle->kind != Handle::Kind::OwnSet) ||
        data == nullptr || data->DevInst == 0 || data->DevInst > usb.size()) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    UsbDevice& device = usb[data->DevInst - 1];
    ++device.propertyReads;
    std::wstring value;
    if (property == SPDRP_HARDWAREID && device.hardwareIds) {
        value = MultiString(*device.hardwareIds);
    } else if (property == SPDRP_DEVICEDESC && device.description) {
        value = *device.description + L'\0';
    } else if (property == SPDRP_LOCATION_PATHS && device.locationPaths) {
        value = MultiString(*device.locationPaths);
    } else if (property == SPDRP_LOCATION_INFORMATION && device.locationInformation) {
        value = *device.locationInformation + L'\0';
    } else {
        return Fail(ERROR_INVALID_DATA);
    }
    const DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (needed != nullptr) {
        *needed = bytes;
    }
    if (buffer == nullptr || size < bytes) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // The value's own terminators are among its bytes.
    std::copy_n(reinterpret_cast<const BYTE*>(value.data()), bytes, buffer);
    return TRUE;
}

Hid::Win32Calls FakeWindows::Calls() {
    Hid::Win32Calls c;
    c.LoadHidServices = [this](Hid::HidServices& s) {
        ++hidLoads;
        if (!hidDllPresent) {
            return false;
        }
        s.HidD_GetAttributes = [this](HANDLE file, PHIDD_ATTRIBUTES attributes) -> BOOLEAN {
            const HidInterface* device = DeviceOf(file);
            if (device == nullptr || device->vanished) {
                return FailService(ERROR_DEVICE_NOT_CONNECTED);
            }
            attributes->VendorID = device->vendor;
            attributes->ProductID = device->product;
            return TRUE;
        };
        s.HidD_GetProductString = [this](HANDLE file, PVOID buffer, ULONG bytes) -> BOOLEAN {
            const HidInterface* device = DeviceOf(file);
            if (device == nullptr || device->vanished) {
                return FailService(ERROR_DEVICE_NOT_CONNECTED);
            }
            const std::size_t needed = (device->productString.size() + 1) * sizeof(wchar_t);
            if (bytes < needed) {
                return FailService(ERROR_INVALID_USER_BUFFER);
            }
            std::memcpy(buffer, device->productString.c_str(), needed);
            return TRUE;
        };
        s.HidD_GetPreparsedData = [this](HANDLE file, PHIDP_PREPARSED_DATA* data) -> BOOLEAN {
            const Handle* handle = Find(file);
            if (handle == nullptr || hid[handle->device].vanished) {
                return FailService(ERROR_DEVICE_NOT_CONNECTED);
            }
            if (hid[handle->device].preparsedFails) {
                return FailService(ERROR_INVALID_DATA);
            }
            ++preparsedHeld;
            // NOLINTNEXTLINE(performance-no-int-to-ptr): a token that HidP_GetCaps reads back
            *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(handle->device + 1);
            return TRUE;
        };
        s.HidD_FreePreparsedData = [this](PHIDP_PREPARSED_DATA) -> BOOLEAN {
            --preparsedHeld;
            return TRUE;
        };
        s.HidP_GetCaps = [this](PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) -> NTSTATUS {
            caps->InputReportByteLength =
                hid[reinterpret_cast<std::uintptr_t>(data) - 1].inputReportLength;
            return HIDP_STATUS_SUCCESS;
        };
        return true;
    };

    c.SetupDiGetClassDevsA = [this](const GUID*, PCSTR, HWND, DWORD flags) {
        EXPECT_EQ(flags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        ++hidEnumerations;
        return static_cast<HDEVINFO>(NewHandle({Handle::Kind::HidSet}));
    };
    c.SetupDiEnumDeviceInterfaces = [this](HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data) {
        if (index >= hid.size()) {
            return Fail(ERROR_NO_MORE_ITEMS);
        }
        data->Reserved = index;
        return TRUE;
    };
    c.SetupDiGetDeviceInterfaceDetailA =
        [this](HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
               DWORD size, PDWORD required, PSP_DEVINFO_DATA device) {
            const std::string& path = hid[data->Reserved].path;
            const DWORD needed = static_cast<DWORD>(
                offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
            if (required != nullptr) {
                *required = needed;
            }
            if (detail == nullptr || size < needed) {
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
                return Fail(ERROR_INVALID_USER_BUFFER);
            }
            if (device != nullptr) {
                if (device->cbSize != sizeof(SP_DEVINFO_DATA)) {
                    return Fail(ERROR_INVALID_USER_BUFFER);
                }
                device->DevInst = kHidNodes + static_cast<DEVINST>(data->Reserved);
            }
            std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
            return TRUE;
        };
    c.SetupDiGetClassDevsW = [this](const GUID* guid, PCWSTR enumerator, HWND, DWORD flags) {
        EXPECT_EQ(guid, nullptr);
        usbEnumerator = enumerator != nullptr ? enumerator : L"";
        usbFlags = flags;
        ++usbEnumerations;
        if (!deviceSetAvailable) {
            Fail(ERROR_ACCESS_DENIED);
            return static_cast<HDEVINFO>(INVALID_HANDLE_VALUE);
        }
        return static_cast<HDEVINFO>(NewHandle({Handle::Kind::UsbSet}));
    };
    c.SetupDiEnumDeviceInfo = [this](HDEVINFO, DWORD index, PSP_DEVINFO_DATA data) {
        if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
            return Fail(ERROR_INVALID_USER_BUFFER);
        }
        if (index >= usb.size()) {
            return Fail(ERROR_NO_MORE_ITEMS);
        }
        data->DevInst = index + 1;
        return TRUE;
    };
    c.SetupDiGetDeviceRegistryPropertyW = [this](HDEVINFO set, PSP_DEVINFO_DATA data,
                                                 DWORD property, PDWORD, PBYTE buffer, DWORD size,
                                                 PDWORD needed) {
        return Property(set, data, property, buffer, size, needed);
    };
    c.CM_Get_DevNode_Status = [this](PULONG status, PULONG problem, DEVINST node, ULONG) {
        const UsbDevice& device = usb.at(node - 1);
        if (!device.statusStub) {
            *status = device.status;
            *problem = 0;
        }
        return static_cast<CONFIGRET>(CR_SUCCESS);
    };
    c.SetupDiDestroyDeviceInfoList = [this](HDEVINFO set) {
        return handles_.erase(reinterpret_cast<std::uintptr_t>(set)) == 1
                   ? TRUE
                   : Fail(ERROR_INVALID_HANDLE);
    };

    c.CreateFileA = [this](LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                           DWORD disposition, DWORD flags, HANDLE) {
        EXPECT_EQ(access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(disposition, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_EQ(flags & FILE_FLAG_OVERLAPPED, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
        ++opens[path];
        const auto it = std::find_if(hid.begin(), hid.end(),
                                     [&](const HidInterface& i) { return i.path == path; });
        if (it == hid.end() || it->vanished) {
            Fail(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        // Share mode none excludes every other open, and is excluded by any.
        if (it->heldExclusively || (share == 0 && it->openHandles > 0)) {
            Fail(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        ++it->openHandles;
        it->heldExclusively = share == 0;
        return NewHandle(
            {Handle::Kind::File, static_cast<std::size_t>(it - hid.begin()), share == 0});
    };
    c.WriteFile = [this](HANDLE file, LPCVOID data, DWORD size, LPDWORD, LPOVERLAPPED overlapped) {
        Transfer transfer;
        transfer.kind = Transfer::Kind::Write;
        transfer.buffer = static_cast<unsigned char*>(const_cast<void*>(data));
        transfer.size = size;
        return Start(file, overlapped, transfer);
    };
    c.ReadFile = [this](HANDLE file, LPVOID data, DWORD size, LPDWORD, LPOVERLAPPED overlapped) {
        Transfer transfer;
        transfer.kind = Transfer::Kind::Read;
        transfer.buffer = static_cast<unsigned char*>(data);
        transfer.size = size;
        return Start(file, overlapped, transfer);
    };
    c.DeviceIoControl = [this](HANDLE file, DWORD code, LPVOID, DWORD, LPVOID out, DWORD size,
                               LPDWORD, LPOVERLAPPED overlapped) {
        if (code != IOCTL_HID_GET_INPUT_REPORT) {
            return Fail(ERROR_INVALID_FUNCTION);
        }
        Transfer transfer;
        transfer.kind = Transfer::Kind::Control;
        transfer.buffer = static_cast<unsigned char*>(out);
        transfer.size = size;
        EXPECT_EQ(transfer.buffer[0], 0) << "the request names input report 0";
        return Start(file, overlapped, transfer);
    };
    c.GetOverlappedResult = [this](HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytes, BOOL wait) {
        const auto it = transfers_.find(overlapped);
        if (it == transfers_.end() || it->second.first != file) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        Transfer& transfer = it->second.second;
        if (!transfer.done) {
            EXPECT_FALSE(wait) << "GetOverlappedResult would wait for ever";
            return Fail(ERROR_IO_INCOMPLETE);
        }
        *bytes = transfer.bytes;
        const bool ok = transfer.ok;
        const DWORD error = transfer.error;
        transfers_.erase(it);
        return ok ? TRUE : Fail(error);
    };
    c.CancelIo = [this](HANDLE file) {
        ++cancels;
        for (auto& [overlapped, entry] : transfers_) {
            Transfer& transfer = entry.second;
            if (entry.first != file || transfer.done) {
                continue;
            }
            HidInterface& device = *DeviceOf(file);
            if (transfer.kind == Transfer::Kind::Read && device.completesDuringCancel &&
                !device.interruptReports.empty()) {
                Complete(transfer, device);
            } else {
                transfer.done = true;
                transfer.error = ERROR_OPERATION_ABORTED;
            }
        }
        return TRUE;
    };
    c.CreateEventA = [this](LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCSTR) {
        EXPECT_FALSE(manual);
        EXPECT_FALSE(initial);
        return NewHandle({Handle::Kind::Event});
    };
    c.WaitForSingleObject = [this](HANDLE event, DWORD timeout) -> DWORD {
        for (auto& [overlapped, entry] : transfers_) {
            if (overlapped->hEvent != event) {
                continue;
            }
            Transfer& transfer = entry.second;
            HidInterface& device = *DeviceOf(entry.first);
            if (!transfer.done && device.vanishesAfterMs && *device.vanishesAfterMs <= timeout) {
                now += *device.vanishesAfterMs;
                device.vanishesAfterMs.reset();
                device.vanished = true;
            }
            if (!transfer.done && device.vanished) {
                transfer.done = true;
                transfer.error = ERROR_DEVICE_NOT_CONNECTED;
            }
            if (!transfer.done && transfer.dueIn && *transfer.dueIn <= timeout) {
                now += *transfer.dueIn;
                Complete(transfer, device);
            }
            if (transfer.done) {
                Find(event)->signalled = false;  // auto-reset
                return WAIT_OBJECT_0;
            }
            if (timeout == INFINITE) {
                ADD_FAILURE() << "a wait without limit for a transfer that never ends";
                return WAIT_FAILED;
            }
            now += timeout;
            return WAIT_TIMEOUT;
        }
        Fail(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    };
    c.CloseHandle = [this](HANDLE handle) {
        const Handle* found = Find(handle);
        if (found == nullptr) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        if (found->kind == Handle::Kind::File) {
            HidInterface& device = hid[found->device];
            --device.openHandles;
            if (found->exclusive) {
                device.heldExclusively = false;
            }
        }
        handles_.erase(reinterpret_cast<std::uintptr_t>(handle));
        return TRUE;
    };
    c.GetLastError = [this] { return lastError_; };
    AnswerDeviceTree(c);
    using W = Hid::Win32Calls;
    CountCalls(c, calls, &W::SetupDiGetClassDevsA, &W::SetupDiEnumDeviceInterfaces,
               &W::SetupDiGetDeviceInterfaceDetailA, &W::SetupDiGetClassDevsW,
               &W::SetupDiEnumDeviceInfo, &W::SetupDiGetDeviceRegistryPropertyW,
               &W::CM_Get_DevNode_Status, &W::SetupDiDestroyDeviceInfoList, &W::CM_Get_Parent,
               &W::CM_Get_Device_IDW, &W::SetupDiCreateDeviceInfoList, &W::SetupDiOpenDeviceInfoW,
               &W::CreateFileA, &W::WriteFile, &W::ReadFile, &W::DeviceIoControl,
               &W::GetOverlappedResult, &W::CancelIo, &W::CreateEventA, &W::WaitForSingleObject,
               &W::CloseHandle);
    return c;
}

}  // namespace ZELKUtil::Testing
