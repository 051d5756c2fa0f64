// The main of the Win32 window tests.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

// Under Wine on a bare X server (Xvfb runs no window manager), Wine's X11 driver would wait two
// seconds at every closing window for a window manager to confirm it. Windows of this process are
// then left unmanaged, as Wine offers; on Windows nothing is changed.
void LeaveWindowsUnmanagedUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const wchar_t no[] = L"N";
        RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof(no));
        RegCloseKey(key);
    }
}

}  // namespace

int main(int argc, char** argv) {
    LeaveWindowsUnmanagedUnderWine();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
