// A box that is plugged in but whose HID interface this user may not open (without the utility's
// udev rule its hidraw node belongs to root) must not look absent: the operator is told what to
// do, once per plug-in, and service mode keeps why each open failed.
#include <algorithm>

#include "controller/upgrade_controller.h"
#include "device/zelk.h"

namespace ZELKUtil {
namespace {

constexpr const char* kNoAccess =
    "\r\nA ZELK box is connected, but this user may not open it. Install the utility's udev rule "
    "70-zelk-upgrade.rules (the zelk-upgrade package puts it into /usr/lib/udev/rules.d), or run "
    "the driver installer in this package's Drivers folder; then unplug and re-plug the box.";

bool NoPermission(const HidOpenFailure& failure) {
    return failure.error.kind == ErrorKind::AccessDenied;
}

}  // namespace

void UpgradeController::NoteOpenFailures() {
    for (HidOpenFailure& failure : device_.OpenFailures()) {
        openFailures_.push_back(std::move(failure));
    }
}

void UpgradeController::ReportOpenFailures() {
    if (state_.diagOutput != 0) {
        // Each reason once, not at every poll while it lasts.
        std::string reasons;
        for (const HidOpenFailure& failure : openFailures_) {
            reasons += "\r\nCannot open " + failure.path + ": " + failure.error.Text();
        }
        if (reasons != reportedFailures_) {
            view_.AppendText(reasons);
            reportedFailures_ = reasons;
        }
    }
    const bool denied = std::any_of(openFailures_.begin(), openFailures_.end(), NoPermission);
    if (denied && !accessNoticeShown_) {
        view_.AppendText(kNoAccess);
    }
    accessNoticeShown_ = denied;
}

}  // namespace ZELKUtil
