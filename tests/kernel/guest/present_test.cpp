// `zelk-sim present` on the guest's own buses: the box the real backends find, what the command
// tells, and a box taken off the bus when the command is stopped.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <sstream>

#include "box_rig.h"
#include "kernel/present_box.h"
#include "platform/files.h"
#include "support/temp_package.h"

namespace ZELKKernelTest {
namespace {

TEST(PresentBox, PutsTheBoxOnItsPortUntilStopped) {
    std::string error;
    const auto options =
        ZELKSim::ParsePresentArguments({"--version", "1.97", "--product", "ZELK Q750B"}, &error);
    ASSERT_TRUE(options) << error;
    std::atomic<bool> stop{false};
    std::ostringstream out;
    std::ostringstream err;
    auto run = std::async(std::launch::async, [&] {
        return ZELKSim::PresentBox(
            *options, [&stop](int ms) { return WaitFor([&stop] { return stop.load(); }, ms); }, out,
            err);
    });
    // A failed assertion below still stops the command, so that the test ends rather than hangs.
    struct StopOnExit {
        std::atomic<bool>& stop;
        ~StopOnExit() { stop = true; }
    } stopOnExit{stop};
    BackendRig rig;
    auto& hid = rig.hid;
    ASSERT_TRUE(WaitFor([&rig] { return rig.NormalPresent(); }, 20000));
    hid_device* box = hid.hid_open(0x14E3, 0x0706, nullptr, 0);
    ASSERT_NE(box, nullptr);
    std::array<wchar_t, 64> name{};
    EXPECT_EQ(hid.hid_get_product_string(box, name.data(), name.size()), 0);
    EXPECT_EQ(std::wstring(name.data()), L"ZELK Q750B");
    EXPECT_EQ(hid.hid_port(box), PortOfController(0));
    hid.hid_close(box);

    stop = true;
    EXPECT_EQ(run.get(), 0) << err.str();
    EXPECT_TRUE(WaitFor([&rig] { return !rig.NormalPresent(); }, 5000));
    EXPECT_EQ(out.str(), "present: ZELK Q750B 1.97, serial 000001, on port " + PortOfController(0) +
                             "; Ctrl+C takes it off the bus\nmode: normal mode\n"
                             "mode: not on the bus\n");

    // A box of its own serial, in its bootloader, with the firmware a state file kept from an
    // earlier present; the state file then holds what the box has.
    ZELKUtil::Testing::TempPackage state;
    state.Write("box.state", "2.03\n");
    const auto bootloader = ZELKSim::ParsePresentArguments(
        {"--serial", "424242", "--mode", "bootloader", "--state", state.Path("box.state")}, &error);
    ASSERT_TRUE(bootloader) << error;
    stop = false;
    std::ostringstream second;
    run = std::async(std::launch::async, [&] {
        return ZELKSim::PresentBox(
            *bootloader, [&stop](int ms) { return WaitFor([&stop] { return stop.load(); }, ms); },
            second, err);
    });
    EXPECT_TRUE(WaitFor([&rig] { return rig.Bootloader() >= 0; }, 20000));
    EXPECT_FALSE(rig.NormalPresent());
    stop = true;
    EXPECT_EQ(run.get(), 0) << err.str();
    EXPECT_EQ(second.str().substr(0, second.str().find(" on port")),
              "present: ZELK Q750 2.03, serial 424242,");
    EXPECT_NE(second.str().find("mode: bootloader"), std::string::npos) << second.str();
    EXPECT_EQ(ZELKUtil::Files::ReadHead(state.Path("box.state"), 64).value(), "2.03\n");
    std::string refused;
    EXPECT_FALSE(ZELKSim::ParsePresentArguments({"--serial", "1234567"}, &refused));
    EXPECT_FALSE(ZELKSim::ParsePresentArguments({"--uhid", "--mode", "bootloader"}, &refused));

    // A controller that is not there: said, and nothing is left behind.
    std::ostringstream none;
    ZELKSim::PresentOptions missing;
    missing.controller = 9;
    EXPECT_EQ(ZELKSim::PresentBox(
                  missing, [](int) { return true; }, none, err),
              1);
    EXPECT_NE(err.str().find("the box cannot be put on the bus"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace ZELKKernelTest
