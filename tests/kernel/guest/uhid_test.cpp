// The read path that a box answering GET_REPORT gives, through a uhid device of the guest kernel:
// the request reaches the box and its answer comes back through hidraw's HIDIOCGINPUT.
#include <gtest/gtest.h>

#include "box_rig.h"
#include "kernel/uhid_box.h"

namespace ZELKKernelTest {
namespace {

using ZELKSim::UhidBox;

TEST(UhidBox, AnsweredGetReportFixesTheControlPipe) {
    BackendRig rig;
    UhidBox front(rig.box, false);
    std::string error;
    ASSERT_TRUE(front.Start(&error)) << error;
    ASSERT_TRUE(WaitFor([&] { return rig.NormalPresent(); }, 10000));

    EXPECT_EQ(rig.device.GetVersion(), "2.01");
    EXPECT_EQ(rig.modes.requestWorks, 1);
    EXPECT_EQ(rig.modes.tryIntFirst, 0);
    // No USB device above it: the name is the HID device's own.
    EXPECT_EQ(rig.device.GetManufacturer(), "ZELK Q750");
    rig.box.SendErrorEvent(-3);
    EXPECT_EQ(rig.device.CheckEvent(), "Err: -3");
    EXPECT_EQ(front.PumpError(), "");
}

TEST(UhidBox, MarkerAnswerSendsTheReadToTheInterruptPipe) {
    BackendRig rig;
    rig.box.SetControlPipe(ZELKSim::ControlPipe::AnswersMarker78);
    UhidBox front(rig.box, true);
    std::string error;
    ASSERT_TRUE(front.Start(&error)) << error;
    ASSERT_TRUE(WaitFor([&] { return rig.NormalPresent(); }, 10000));

    EXPECT_EQ(rig.device.GetVersion(), "2.01");
    EXPECT_EQ(rig.modes.requestWorks, 0);
    EXPECT_EQ(rig.modes.tryIntFirst, 1);
    // Every GET_REPORT of the host reaches the box as a control-pipe read; none comes any more.
    const int controlReads = rig.box.ControlReads();
    rig.box.SendEyeChangedEvent(0);
    std::string event;
    WaitFor([&] { return !(event = rig.device.CheckEvent()).empty(); }, 5000);
    EXPECT_EQ(event, "Eye: Left");
    EXPECT_EQ(rig.box.ControlReads(), controlReads);
    EXPECT_EQ(front.PumpError(), "");
}

}  // namespace
}  // namespace ZELKKernelTest
