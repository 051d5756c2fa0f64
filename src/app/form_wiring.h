#pragma once

#include "app/update_form.h"
#include "controller/upgrade_controller.h"

namespace ZELKUtil {

// Passes the window's timer ticks, the operator's keys and clicks and its closing on to the
// controller.
inline void ConnectForm(UpdateForm& form, UpgradeController& controller) {
    UpdateForm::Handlers handlers;
    handlers.timerTick = [&controller] { controller.TimerCheck_Tick(); };
    handlers.diagClick = [&controller] { controller.ButtonDiag_Click(); };
    handlers.restartClick = [&controller] { controller.buttonRestart_Click(); };
    handlers.forceClick = [&controller] { controller.ButtonForce_Click(); };
    handlers.autoRingsClick = [&controller] { controller.ButtonAutoRings_Click(); };
    handlers.keyDown = [&controller](Key key, bool control) {
        controller.UpdateForm_KeyDown(key, control);
    };
    handlers.dispose = [&controller] { controller.Dispose(); };
    form.SetHandlers(std::move(handlers));
}

}  // namespace ZELKUtil
