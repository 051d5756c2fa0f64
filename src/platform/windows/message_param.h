#pragma once

#include <windows.h>

namespace ZELKUtil::Windows {

// Win32 carries pointers and handles in integers: message parameters, results and window data, a
// child window's ID in its menu handle. These are the places that turn such an integer back into
// what it holds.
template <typename T>
T FromParam(LONG_PTR value) {
    return reinterpret_cast<T>(value);  // NOLINT(performance-no-int-to-ptr): it holds a T
}

template <typename T>
T FromParam(UINT_PTR value) {
    return reinterpret_cast<T>(value);  // NOLINT(performance-no-int-to-ptr): it holds a T
}

// The menu-handle argument of CreateWindowEx by which a child window gets its ID.
inline HMENU ChildId(int id) {
    return FromParam<HMENU>(static_cast<UINT_PTR>(id));
}

}  // namespace ZELKUtil::Windows
