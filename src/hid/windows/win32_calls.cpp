#include "hid/windows/win32_calls.h"

namespace ZELKUtil::Hid {
namespace {

// Looks one entry point up by name and stores it with its declared type.
template <typename Result, typename... Arguments>
void LookUp(HMODULE library, const char* name, std::function<Result(Arguments...)>& entry) {
    using Pointer = Result(NTAPI*)(Arguments...);
    const FARPROC address = ::GetProcAddress(library, name);
    if (address != nullptr) {
        entry = reinterpret_cast<Pointer>(reinterpret_cast<void*>(address));
    }
}

bool LoadSystemHidServices(HidServices& services) {
    // Loaded for the life of the process: the transport keeps the entry points.
    const HMODULE library = ::LoadLibraryA("hid.dll");
    if (library == nullptr) {
        return false;
    }
    LookUp(library, "HidD_GetAttributes", services.HidD_GetAttributes);
    LookUp(library, "HidD_GetSerialNumberString", services.HidD_GetSerialNumberString);
    LookUp(library, "HidD_GetManufacturerString", services.HidD_GetManufacturerString);
    LookUp(library, "HidD_GetProductString", services.HidD_GetProductString);
    LookUp(library, "HidD_SetFeature", services.HidD_SetFeature);
    LookUp(library, "HidD_GetFeature", services.HidD_GetFeature);
    LookUp(library, "HidD_GetIndexedString", services.HidD_GetIndexedString);
    LookUp(library, "HidD_GetPreparsedData", services.HidD_GetPreparsedData);
    LookUp(library, "HidD_GetInputReport", services.HidD_GetInputReport);
    LookUp(library, "HidD_FreePreparsedData", services.HidD_FreePreparsedData);
    LookUp(library, "HidP_GetCaps", services.HidP_GetCaps);
    return true;
}

}  // namespace

Win32Calls SystemWin32Calls() {
    Win32Calls calls;
    calls.LoadHidServices = LoadSystemHidServices;
    calls.SetupDiGetClassDevsA = ::SetupDiGetClassDevsA;
    calls.SetupDiEnumDeviceInterfaces = ::SetupDiEnumDeviceInterfaces;
    calls.SetupDiGetDeviceInterfaceDetailA = ::SetupDiGetDeviceInterfaceDetailA;
    calls.SetupDiGetClassDevsW = ::SetupDiGetClassDevsW;
    calls.SetupDiEnumDeviceInfo = ::SetupDiEnumDeviceInfo;
    calls.SetupDiGetDeviceRegistryPropertyW = ::SetupDiGetDeviceRegistryPropertyW;
    calls.CM_Get_DevNode_Status = ::CM_Get_DevNode_Status;
    calls.SetupDiDestroyDeviceInfoList = ::SetupDiDestroyDeviceInfoList;
    calls.CM_Get_Parent = ::CM_Get_Parent;
    calls.CM_Get_Device_IDW = ::CM_Get_Device_IDW;
    calls.SetupDiCreateDeviceInfoList = ::SetupDiCreateDeviceInfoList;
    calls.SetupDiOpenDeviceInfoW = ::SetupDiOpenDeviceInfoW;
    calls.CreateFileA = ::CreateFileA;
    calls.WriteFile = ::WriteFile;
    calls.ReadFile = ::ReadFile;
    calls.DeviceIoControl = ::DeviceIoControl;
    calls.GetOverlappedResult = ::GetOverlappedResult;
    calls.CancelIo = ::CancelIo;
    calls.CreateEventA = ::CreateEventA;
    calls.WaitForSingleObject = ::WaitForSingleObject;
    calls.CloseHandle = ::CloseHandle;
    calls.GetLastError = ::GetLastError;
    return calls;
}

}  // namespace ZELKUtil::Hid
