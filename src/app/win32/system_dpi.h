#pragma once

#include <windows.h>

namespace ZELKUtil::Windows {

// The DPI calls of newer Windows (10, 1607 on), looked up at run time so that the program still
// starts on Windows 7, where the process's one system DPI serves instead.

// The DPI of the monitor the window is on.
UINT DpiOfWindow(HWND window);

// The system's message font (the font of dialogs and message boxes) at the DPI; null when it
// cannot be made.
HFONT CreateMessageFont(UINT dpi);

// The width of a check box's box at the DPI.
int CheckBoxWidth(UINT dpi);

// The outer size of a window whose client area has the size, at the DPI.
SIZE FrameSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

}  // namespace ZELKUtil::Windows
