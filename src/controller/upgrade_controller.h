#pragma once

#include <string>

#include "controller/upgrade_state.h"
#include "controller/view.h"
#include "platform/clock.h"

namespace ZELKUtil {

// The upgrade controller: start-up, the poll cycle and the handlers' logic. It touches the window
// only through the View and the world only through the seams it is given.
class UpgradeController {
  public:
    // packageFolder is the folder every relative package name is resolved against: the current
    // directory in the product, a temporary folder in tests.
    UpgradeController(View& view, Clock& clock, std::string packageFolder);
    UpgradeController(const UpgradeController&) = delete;
    UpgradeController& operator=(const UpgradeController&) = delete;

    void InitializeApplication();

    // The two ways a poll is requested.
    void TimerCheck_Tick();
    void Main_OnDeviceChange();
    // One poll.
    void CheckForZELK();

    void ComboZelkType_SelectedIndexChanged();

    UpgradeState& State() { return state_; }
    const UpgradeState& State() const { return state_; }

  private:
    std::string PackagePath(const std::string& relative) const;

    View& view_;
    Clock& clock_;
    std::string packageFolder_;
    UpgradeState state_;
};

}  // namespace ZELKUtil
