#pragma once

// What the window tests do to windows through the system, as another program or the operator
// would: read child windows back and type keys into the system's input queue.
#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/form_layout.h"

namespace ZELKUtil::Testing {

// The direct child windows of a window, in the system's order (creation order, the tab order).
std::vector<HWND> Children(HWND parent);
std::wstring ClassName(HWND hwnd);
// The window's text through WM_GETTEXT, so that it works across processes too.
std::wstring WindowText(HWND hwnd);
// A child's rectangle in its parent's client coordinates.
Rect RectIn(HWND parent, HWND child);
// The window's own shown flag.
bool Visible(HWND hwnd);
// The extent of a text in the control's font.
SIZE TextSize(HWND control, const std::wstring& text);

// Key presses (virtual key, down) through SendInput, as a keyboard makes them.
void Type(std::initializer_list<std::pair<WORD, bool>> keys);
void Press(WORD vk);
void PressWith(WORD modifier, WORD vk);

}  // namespace ZELKUtil::Testing
