// Drivers\libusbk\dpinst.exe and dpinst_x64.exe of the Wine guest's package: puts the driver
// package of its folder (zelk-bootloader.inf) into the system's driver store, as the real
// installer does, with SetupCopyOEMInf. Wine's plug-and-play manager installs it on each
// bootloader that appears from then on: the device gets the INF's description ("Orvanta
// Update"), which is how the probe tells the package's driver. The INF names no service, so no
// driver of ours is loaded: the bootloader stays for libusb (wineusb.sys), and so for dfu-util.
// The installer's options (/LM /F /s) are taken and not looked at. 0 when the INF is in place.
#include <windows.h>
// setupapi.h needs windows.h first.
#include <setupapi.h>

#include <cstdio>
#include <string>

int main() {
    std::wstring inf(MAX_PATH, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, inf.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        std::fprintf(stderr, "driver installer: cannot find its folder (%lu)\n", ::GetLastError());
        return 2;
    }
    inf.resize(inf.find_last_of(L'\\') + 1);
    inf += L"zelk-bootloader.inf";
    if (::SetupCopyOEMInfW(inf.c_str(), nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr) ==
        FALSE) {
        std::fprintf(stderr, "driver installer: SetupCopyOEMInf: error %lu\n", ::GetLastError());
        return 1;
    }
    return 0;
}
