#pragma once

// Texts that more than one run writes to the log, exactly as the operator knows them.
namespace ZELKUtil::OperatorTexts {

inline constexpr const char* kPackageError =
    "\r\nError with upgrade package. Please contact Orvanta";
inline constexpr const char* kDownloadFailed =
    "\r\nFirmare download failed. Please unplug and re-plug converter box usb amd try again.\r\n";

// Our own texts, where the road would otherwise go on in silence or guess.
inline constexpr const char* kSeveralBoxes =
    "\r\nMore than one ZELK box is connected. Please unplug all but one.";
inline constexpr const char* kBoxKeepsLeaving =
    "\r\nThe box left the USB bus during its last downloads. Please check the USB cable and "
    "port, then re-plug the box.";
inline constexpr const char* kInstallerChangedNothing =
    "\r\nThe driver installer ran, but the bootloader still has the wrong driver. Please install "
    "the driver manually";
// After "FPGA Done" with "Program ARM" still ticked: the programmer takes no ARM firmware.
inline constexpr const char* kReplugForArm =
    "\r\nTo download the ARM firmware too, please unplug and re-plug the box.";
inline constexpr const char* kFpgaStillHoldsDesign =
    "\r\nError Programming FPGA: the FPGA still holds a design after it was erased\r\n";

}  // namespace ZELKUtil::OperatorTexts
