#pragma once

#include <utility>

#include "controller/upgrade_controller.h"

namespace ZELKUtil {

// Passes the window's timer ticks, the operator's keys and clicks, its closing and, where the
// window itself receives them (WM_DEVICECHANGE on Windows), the system's device changes on to the
// controller. Form is the UpdateForm of either window toolkit.
template <typename Form>
void ConnectForm(Form& form, UpgradeController& controller) {
    typename Form::Handlers handlers;
    handlers.timerTick = [&controller] { controller.TimerCheck_Tick(); };
    handlers.diagClick = [&controller] { controller.ButtonDiag_Click(); };
    handlers.restartClick = [&controller] { controller.buttonRestart_Click(); };
    handlers.forceClick = [&controller] { controller.ButtonForce_Click(); };
    handlers.autoRingsClick = [&controller] { controller.ButtonAutoRings_Click(); };
    handlers.keyDown = [&controller](Key key, bool control) {
        controller.UpdateForm_KeyDown(key, control);
    };
    handlers.dispose = [&controller] { controller.Dispose(); };
    if constexpr (requires { handlers.deviceChange; }) {
        handlers.deviceChange = [&controller] { controller.Main_OnDeviceChange(); };
    }
    form.SetHandlers(std::move(handlers));
}

}  // namespace ZELKUtil
