// What the operator's shortcuts and buttons do. They only set controller fields and window state;
// the poll acts on them.
#include "controller/upgrade_controller.h"
#include "device/zelk.h"

namespace ZELKUtil {

void UpgradeController::UpdateForm_KeyDown(Key key, bool control) {
    if (key == Key::M && control && !view_.Shown(Control::ButtonForce)) {
        // Service mode, once for the program's life.
        state_.diagOutput = 1;
        for (Control c : {Control::ButtonDiag, Control::buttonRestart, Control::ButtonForce,
                          Control::ButtonAutoRings, Control::LabelEye}) {
            view_.SetShown(c, true);
        }
        for (Control box : {Control::CheckProgramArm, Control::CheckProgramFPGA}) {
            if (view_.Enabled(box)) {
                view_.SetShown(box, true);
            }
        }
        // The service row at the bottom no longer covers the log.
        view_.SetLogHeight(view_.LogHeight() - 21);
    }
    if (key == Key::Backspace) {
        view_.Clear();
    }
    if (key == Key::S && control) {
        if (state_.fpga_usb_quick == 1) {
            state_.fpga_usb_quick = 0;
            view_.AppendText("\r\nSetting Slow mode for FPGA programming");
        } else {
            state_.fpga_usb_quick = 1;
            view_.AppendText("\r\nSetting Fast mode for FPGA programming");
        }
    }
}

void UpgradeController::ButtonDiag_Click() {
    ExchangeWithBox(&UpgradeController::print_diagnosis);
}

void UpgradeController::buttonRestart_Click() {
    // The operator's own ticks, whatever was ticked before.
    state_.ledger.ticks.automaticFor.reset();
    state_.ledger.NewFpgaJob();
    if (view_.Enabled(Control::CheckProgramFPGA)) {
        view_.SetChecked(Control::CheckProgramFPGA, true);
    }
    if (view_.Enabled(Control::CheckProgramArm)) {
        view_.SetChecked(Control::CheckProgramArm, true);
    }
}

void UpgradeController::ButtonForce_Click() {
    state_.force_bootloader = 1;
    state_.error_occurred = 0;
    // The operator starts over: the bounds that stopped a failing upgrade count afresh.
    state_.ledger.StartOver();
}

void UpgradeController::ButtonAutoRings_Click() {
    ExchangeWithBox(&UpgradeController::EnableRings);
}

void UpgradeController::EnableRings() {
    (void)device_.EnableQ750AutoRing();
}

void UpgradeController::print_diagnosis() {
    const std::string report = device_.GetDiag();
    view_.AppendText("\r\nStatus Information\r\n------------------");
    if (state_.current_profile && state_.current_profile->id == "Q750") {
        view_.AppendText("\r\n" + device_.GetEye());
    }
    view_.AppendText("\r\n" + report);
}

}  // namespace ZELKUtil
