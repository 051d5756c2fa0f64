// The main of the Win32 window tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace {

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Under Wine on a bare X server (Xvfb runs no window manager), Wine's X11 driver would wait two
// seconds at every closing window for a window manager to confirm it: this process's windows are
// left unmanaged, as Wine offers.
void LeaveWindowsUnmanaged() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const wchar_t no[] = L"N";
        RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof(no));
        RegCloseKey(key);
    }
}

// A Wine server that already runs for the other suites started the default desktop's process
// without an X display, so windows could not be made there. A desktop of this test's own gets a
// desktop process of its own, on this test's display.
bool UseOwnDesktop() {
    HDESK desktop = CreateDesktopW(L"ZelkWindowTest", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    return desktop != nullptr && SetThreadDesktop(desktop) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    // On Windows the tests run on the operator's own desktop, which takes the typed keys.
    if (UnderWine()) {
        LeaveWindowsUnmanaged();
        if (!UseOwnDesktop()) {
            std::fprintf(stderr, "cannot switch to a desktop of the test's own\n");
            return 1;
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
