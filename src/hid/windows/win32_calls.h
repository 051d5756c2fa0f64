#pragma once

// The Win32 calls that the Windows HID transport and device-tree probe make, as one table of
// callables: the seam through which tests answer them as a real box and a real Windows would
// (time-outs, cancellation, a vanished device, every node status), while the product's table
// calls the system. Every call keeps its Win32 signature; GetLastError belongs to the table, so
// that a test's answers carry their own error codes.
#include <windows.h>

// mingw-w64's HID headers lack C++ guards.
extern "C" {
#include <hidsdi.h>
}
#include <cfgmgr32.h>
#include <setupapi.h>

#include <functional>

namespace ZELKUtil::Hid {

// The eleven entry points that the transport looks up by name in "hid.dll". An entry the library
// does not export stays empty.
struct HidServices {
    std::function<BOOLEAN(HANDLE, PHIDD_ATTRIBUTES)> HidD_GetAttributes;
    std::function<BOOLEAN(HANDLE, PVOID, ULONG)> HidD_GetSerialNumberString;
    std::function<BOOLEAN(HANDLE, PVOID, ULONG)> HidD_GetManufacturerString;
    std::function<BOOLEAN(HANDLE, PVOID, ULONG)> HidD_GetProductString;
    std::function<BOOLEAN(HANDLE, PVOID, ULONG)> HidD_SetFeature;
    std::function<BOOLEAN(HANDLE, PVOID, ULONG)> HidD_GetFeature;
    std::function<BOOLEAN(HANDLE, ULONG, PVOID, ULONG)> HidD_GetIndexedString;
    std::function<BOOLEAN(HANDLE, PHIDP_PREPARSED_DATA*)> HidD_GetPreparsedData;
    std::function<BOOLEAN(HANDLE, PVOID, ULONG)> HidD_GetInputReport;
    std::function<BOOLEAN(PHIDP_PREPARSED_DATA)> HidD_FreePreparsedData;
    std::function<NTSTATUS(PHIDP_PREPARSED_DATA, PHIDP_CAPS)> HidP_GetCaps;
};

struct Win32Calls {
    // Loads "hid.dll" by name and looks its entry points up; false when the library is absent.
    std::function<bool(HidServices&)> LoadHidServices;

    // The HID interface class: enumeration of interfaces and their paths.
    std::function<HDEVINFO(const GUID*, PCSTR, HWND, DWORD)> SetupDiGetClassDevsA;
    std::function<BOOL(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA)>
        SetupDiEnumDeviceInterfaces;
    std::function<BOOL(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A,
                       DWORD, PDWORD, PSP_DEVINFO_DATA)>
        SetupDiGetDeviceInterfaceDetailA;
    // Present USB devices and their properties, and the configuration manager's node status.
    std::function<HDEVINFO(const GUID*, PCWSTR, HWND, DWORD)> SetupDiGetClassDevsW;
    std::function<BOOL(HDEVINFO, DWORD, PSP_DEVINFO_DATA)> SetupDiEnumDeviceInfo;
    std::function<BOOL(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD)>
        SetupDiGetDeviceRegistryPropertyW;
    std::function<CONFIGRET(PULONG, PULONG, DEVINST, ULONG)> CM_Get_DevNode_Status;
    std::function<BOOL(HDEVINFO)> SetupDiDestroyDeviceInfoList;
    // The device tree above a device node, and a set of one device opened by its instance ID:
    // how a HID interface or a USB interface finds the USB device, and so the port, it sits on.
    std::function<CONFIGRET(PDEVINST, DEVINST, ULONG)> CM_Get_Parent;
    std::function<CONFIGRET(DEVINST, PWSTR, ULONG, ULONG)> CM_Get_Device_IDW;
    std::function<HDEVINFO(const GUID*, HWND)> SetupDiCreateDeviceInfoList;
    std::function<BOOL(HDEVINFO, PCWSTR, HWND, DWORD, PSP_DEVINFO_DATA)> SetupDiOpenDeviceInfoW;

    // Files, overlapped I/O and events.
    std::function<HANDLE(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>
        CreateFileA;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile;
    std::function<BOOL(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> ReadFile;
    std::function<BOOL(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)>
        DeviceIoControl;
    std::function<BOOL(HANDLE, LPOVERLAPPED, LPDWORD, BOOL)> GetOverlappedResult;
    std::function<BOOL(HANDLE)> CancelIo;
    std::function<HANDLE(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR)> CreateEventA;
    std::function<DWORD(HANDLE, DWORD)> WaitForSingleObject;
    std::function<BOOL(HANDLE)> CloseHandle;
    std::function<DWORD()> GetLastError;
};

// The system's own calls; hid.dll is loaded when LoadHidServices is first called.
Win32Calls SystemWin32Calls();

}  // namespace ZELKUtil::Hid
