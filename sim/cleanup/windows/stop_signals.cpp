// Windows calls a console control handler on a thread of its own, so the folders are removed
// right there; the handler then declines, and the default handler ends the process as before.
#include "cleanup/stop_signals.h"

#include <windows.h>

#include <string>

#include "cleanup/temp_folders.h"

namespace ZELKSim {
namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
        event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        RemoveTempFolders();
    }
    return FALSE;
}

}  // namespace

ZELKUtil::Result<void> RemoveTempFoldersOnStop() {
    if (SetConsoleCtrlHandler(OnConsoleControl, TRUE) == 0) {
        return ZELKUtil::Error{
            ZELKUtil::ErrorKind::SystemFailure, "hear Ctrl+C",
            "SetConsoleCtrlHandler failed with error " + std::to_string(GetLastError())};
    }
    return {};
}

}  // namespace ZELKSim
