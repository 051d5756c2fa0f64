// zelk-upgrade.exe: the utility on Windows. It runs from the package folder, its current
// directory, and takes no options: its arguments are ignored.
// <windows.h> before the headers that build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <iostream>

#include "app/form_wiring.h"
#include "app/win32/update_form.h"
#include "controller/upgrade_controller.h"
#include "device/zelk.h"
#include "hid/windows/win32_calls.h"
#include "hid/windows/windows_box_platform.h"
#include "platform/steady_clock.h"
#include "platform/system_info.h"
#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"

int main() {
    // Visual styles: the manifest asks for common controls 6, and this loads them.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    const ZELKUtil::Hid::Win32Calls calls = ZELKUtil::Hid::SystemWin32Calls();
    ZELKUtil::SteadyClock clock;
    // Child processes start in the current folder, the package folder; the probe lists what it
    // finds on standard output.
    ZELKUtil::Hid::WindowsBoxPlatform platform(calls, "", &std::cout);
    ReadPathModes readPath;
    // The device object comes first and lives as long as the window.
    ZELK device(platform.Transport(), platform.Probe(), clock, readPath);

    ZELKUtil::UpdateForm form;
    if (!form.Created()) {
        // Without its window the utility has no log to say so in.
        const std::wstring text = ZELKUtil::Utf8ToWide(form.Error());
        MessageBoxW(nullptr, text.c_str(), L"Orvanta Upgrade", MB_OK | MB_ICONERROR);
        return 1;
    }
    // What the backends read of the device tree is kept while the window hears no device change,
    // so that a poll that finds nothing new enumerates nothing and opens nothing.
    form.Inform(platform.Journal());
    clock.SetWaiter([&form](std::int64_t ms) { form.WaitKeepingWindowAlive(ms); });
    ZELKUtil::UpgradeController controller(
        {form, clock, device, platform.Processes(), "", ZELKUtil::NativeMachine()});
    ZELKUtil::ConnectForm(form, controller);

    controller.InitializeApplication();
    form.Show();
    return form.Run();
}
