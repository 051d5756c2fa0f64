#pragma once

// Texts that more than one run writes to the log, exactly as the operator knows them.
namespace ZELKUtil::OperatorTexts {

inline constexpr const char* kPackageError =
    "\r\nError with upgrade package. Please contact Orvanta";
inline constexpr const char* kDownloadFailed =
    "\r\nFirmare download failed. Please unplug and re-plug converter box usb amd try again.\r\n";

}  // namespace ZELKUtil::OperatorTexts
