#pragma once

#include <functional>
#include <optional>
#include <string>

#include "controller/operator_texts.h"
#include "controller/road_events.h"
#include "controller/tools/tool_reader.h"
#include "controller/upgrade_state.h"
#include "controller/view.h"
#include "package/package_findings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process_service.h"

namespace ZELKUtil {

// What a tool run works through, all owned by the controller: the window, the clock, the child
// processes, the one tool reader, and the controller's state, which the runs read and write in
// place so that the poll, the scenarios and the tests see every field where it always is.
struct RunSeams {
    View& view;
    Clock& clock;
    ProcessService& processes;
    ToolReader& reader;
    UpgradeState& state;
    // Every relative package name is resolved against it.
    const std::string& packageFolder;
    // dfu-util's -p path of the one port a bench run is confined to; none: dfu-util finds the one
    // DFU device by its IDs.
    const std::optional<std::string>& dfuUtilPort;
    // Where the runs tell what happened, and the port of the box the poll works on now.
    const RoadEventSink& events;
    const std::string& port;

    std::string PackagePath(const std::string& relative) const {
        return Files::Join(packageFolder, relative);
    }
    // An image the profile names, in the package folder; none when it lies outside, where start-up
    // would have refused it too (a profile chosen by its display name may be one it refused).
    std::optional<std::string> ImagePath(const std::string& name) const {
        return PackageImagePath(packageFolder, name);
    }
    // Whether the box of the run is still in its bootloader (on its port, where the system tells
    // one): a download tool that found nothing lost the box, not the package.
    std::function<bool()> bootloaderHere;

    // Appends the package error and sets the error state.
    void PackageError() const {
        view.AppendText(OperatorTexts::kPackageError);
        state.error_occurred = 1;
    }
    // The run failed: the road of the box ends so.
    void Fail(Reason reason) const { state.ledger.Failed(port, reason); }
    void Tell(const RoadEvent& event) const { events.Tell(event); }
};

}  // namespace ZELKUtil
