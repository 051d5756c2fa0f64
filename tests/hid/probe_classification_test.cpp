#include "hid/probe_classification.h"

#include <gtest/gtest.h>

#include <sstream>

namespace ZELKUtil::Hid {
namespace {

constexpr std::uint32_t kRunning = kDnDriverLoaded | kDnStarted;

UsbDeviceRecord Device(std::vector<std::string> ids, std::optional<std::uint32_t> status,
                       std::optional<std::string> description = std::nullopt) {
    return UsbDeviceRecord{std::move(ids), status, std::move(description)};
}

UsbDeviceRecord Bootloader(std::optional<std::uint32_t> status,
                           std::optional<std::string> description = std::nullopt) {
    return Device({"USB\\VID_0471&PID_DF55&REV_0100", "USB\\VID_0471&PID_DF55"}, status,
                  std::move(description));
}

int Classify(const std::vector<UsbDeviceRecord>& devices, int verbose = 0) {
    std::ostringstream listing;
    return ClassifyUsbDevices(devices, 0x0471, 0xDF55, verbose, listing);
}

TEST(ProbeClassification, CodesAndTheirPrecedence) {
    const auto mouse = Device({"USB\\VID_046D&PID_C077&REV_7200"}, kRunning);
    EXPECT_EQ(Classify({}), -1);
    EXPECT_EQ(Classify({mouse}), -1);
    EXPECT_EQ(Classify({mouse, Bootloader(0)}), 0);
    EXPECT_EQ(Classify({Bootloader(std::nullopt)}), 0);  // a failed status query
    EXPECT_EQ(Classify({Bootloader(kDnDriverLoaded)}), 0);
    EXPECT_EQ(Classify({Bootloader(kRunning)}), 1);
    EXPECT_EQ(Classify({Bootloader(kRunning | kDnHasProblem)}), 0);
    EXPECT_EQ(Classify({Bootloader(0, "NXP USB Device with DFU Capabilities (LPC3131)")}), 2);
    EXPECT_EQ(Classify({Bootloader(kRunning, "usb device with dfu capabilities")}), 1);
    EXPECT_EQ(Classify({Bootloader(kDnHasProblem, "Orvanta Update")}), 3);
    EXPECT_EQ(Classify({Bootloader(0, "USB Device with DFU Capabilities, Orvanta Update")}), 3);
    EXPECT_EQ(Classify({Bootloader(kRunning, "ORVANTA UPDATE")}), 1);
    // A description needing more than 460 bytes is not fetched: 229 characters fit, 230 do not.
    EXPECT_EQ(Classify({Bootloader(0, "Orvanta Update" + std::string(215, ' '))}), 3);
    EXPECT_EQ(Classify({Bootloader(0, "Orvanta Update" + std::string(216, ' '))}), 0);
    EXPECT_EQ(Classify({Bootloader(0, "Orvanta Update" + std::string(107, ' ') + "\xC3\xA9" +
                                          std::string(107, ' '))}),
              3);
}

TEST(ProbeClassification, MatchesOnlyTheFirstHardwareIdInAnyCase) {
    EXPECT_EQ(Classify({Device({"usb\\vid_0471&pid_df55"}, kRunning)}), 1);
    EXPECT_EQ(Classify({Device({"USB\\VID0471&PIDDF55&MI_00"}, kRunning)}), 1);
    EXPECT_EQ(Classify({Device({"USB\\COMPOSITE", "USB\\VID_0471&PID_DF55"}, kRunning)}), -1);
    EXPECT_EQ(Classify({Device({}, kRunning)}), -1);
    EXPECT_EQ(Classify({UsbDeviceRecord{std::nullopt, kRunning, std::nullopt}}), -1);
    // Patterns are at least four digits: vendor 0x12345 writes five.
    std::ostringstream listing;
    EXPECT_EQ(
        ClassifyUsbDevices({Device({"USB\\VID_12345&PID_0001"}, kRunning)}, 0x12345, 1, 0, listing),
        1);

    // A list needing more than 460 bytes is never matched: 229 units fit, 230 do not.
    const std::string id = "USB\\VID_0471&PID_DF55";  // 21 characters, 22 with the terminator
    EXPECT_EQ(HardwareIdListBytes({id}), 46U);
    EXPECT_EQ(Classify({Device({id, std::string(206, 'x')}, kRunning)}), 1);
    EXPECT_EQ(Classify({Device({id, std::string(207, 'x')}, kRunning)}), -1);
}

TEST(ProbeClassification, StoppingAndListingModes) {
    const auto running = Bootloader(kRunning);
    const auto nxp = Bootloader(0, "USB Device with DFU Capabilities");
    const auto waiting = Bootloader(0);
    const auto too_long = Device({std::string(300, 'x')}, kRunning);
    const auto other = Device({"USB\\VID_1D6B&PID_0002&REV_0601", "USB\\VID_1D6B&PID_0002"}, 0);

    // Stopping mode classifies the first match only.
    EXPECT_EQ(Classify({nxp, running}), 2);
    EXPECT_EQ(Classify({running, nxp}), 1);

    // Listing mode prints each first hardware ID as it stands and carries one running code: a
    // later match changes it only where its own steps set a value.
    std::ostringstream listing;
    EXPECT_EQ(ClassifyUsbDevices({other, nxp, waiting}, 0x0471, 0xDF55, 1, listing), 2);
    EXPECT_EQ(listing.str(),
              "Path: USB\\VID_1D6B&PID_0002&REV_0601\n"
              "Path: USB\\VID_0471&PID_DF55&REV_0100\n"
              "Path: USB\\VID_0471&PID_DF55&REV_0100\n");
    EXPECT_EQ(Classify({nxp, running}, 1), 1);
    EXPECT_EQ(Classify({running, waiting}, 1), 1);
    EXPECT_EQ(Classify({other}, 1), -1);
    // An over-long list clears the match-seen flag; a later match sets it again.
    EXPECT_EQ(Classify({running, too_long}, 1), -1);
    EXPECT_EQ(Classify({running, too_long, waiting}, 1), 1);
}

}  // namespace
}  // namespace ZELKUtil::Hid
