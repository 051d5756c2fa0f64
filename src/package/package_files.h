#pragma once

// Every file name the utility looks for in the package folder. The utility runs with the package
// folder as its current directory and resolves all of these against it; keep them here so that a
// newcomer finds the whole package layout in one place. Windows names them with backslashes and
// ".exe" as the package has them; Linux uses the same names with "/" and without ".exe".
namespace ZELKUtil::PackageFiles {

#ifdef _WIN32
inline constexpr const char* kProfileFile = "Tools\\zelk.config";
inline constexpr const char* kDfuUtil = "Tools\\dfu-util.exe";
inline constexpr const char* kDfuApp = "Tools\\DFUAPP.exe";
inline constexpr const char* kDfuAppLog = "Tools\\dfulog.txt";
inline constexpr const char* kStaplPlayer = "Tools\\STAPL Player.exe";
// The driver folders end in their separator: the installer's name follows directly.
inline constexpr const char* kDriverFolderNxp = "Drivers\\phillips\\";
inline constexpr const char* kDriverFolderLibusbk = "Drivers\\libusbk\\";
inline constexpr const char* kDriverInstaller = "dpinst.exe";
inline constexpr const char* kDriverInstaller64 = "dpinst_x64.exe";
#else
inline constexpr const char* kProfileFile = "Tools/zelk.config";
inline constexpr const char* kDfuUtil = "Tools/dfu-util";
inline constexpr const char* kDfuApp = "Tools/DFUAPP";
inline constexpr const char* kDfuAppLog = "Tools/dfulog.txt";
inline constexpr const char* kStaplPlayer = "Tools/STAPL Player";
inline constexpr const char* kDriverFolderNxp = "Drivers/phillips/";
inline constexpr const char* kDriverFolderLibusbk = "Drivers/libusbk/";
inline constexpr const char* kDriverInstaller = "dpinst";
inline constexpr const char* kDriverInstaller64 = "dpinst_x64";
#endif
inline constexpr const char* kVersionFile = "CurrentVersion.txt";
inline constexpr const char* kToolsFolder = "Tools";
// DFUAPP is told its log by this bare name; the utility creates and reads it under its full name.
inline constexpr const char* kDfuAppLogArgument = "dfulog.txt";
// Given to the download tool by its bare name, with the Tools folder as working directory.
inline constexpr const char* kFpgaProgrammerImage = "FpgaProgrammer.ebn";

}  // namespace ZELKUtil::PackageFiles
