#pragma once

// Every file name the utility looks for in the package folder. The utility runs with the package
// folder as its current directory and resolves all of these against it; keep them here so that a
// newcomer finds the whole package layout in one place.
namespace ZELKUtil::PackageFiles {

inline constexpr const char* kVersionFile = "CurrentVersion.txt";
inline constexpr const char* kProfileFile = "Tools/zelk.config";
inline constexpr const char* kToolsFolder = "Tools";
inline constexpr const char* kDfuUtil = "Tools/dfu-util";
inline constexpr const char* kDfuApp = "Tools/DFUAPP";
// DFUAPP is told its log by this bare name; the utility creates and reads it under its full name.
inline constexpr const char* kDfuAppLogArgument = "dfulog.txt";
inline constexpr const char* kDfuAppLog = "Tools/dfulog.txt";
inline constexpr const char* kStaplPlayer = "Tools/STAPL Player";
// Given to the download tool by its bare name, with the Tools folder as working directory.
inline constexpr const char* kFpgaProgrammerImage = "FpgaProgrammer.ebn";
inline constexpr const char* kDriverFolderNxp = "Drivers/phillips";
inline constexpr const char* kDriverFolderLibusbk = "Drivers/libusbk";
inline constexpr const char* kDriverInstaller = "dpinst";
inline constexpr const char* kDriverInstaller64 = "dpinst_x64";

}  // namespace ZELKUtil::PackageFiles
