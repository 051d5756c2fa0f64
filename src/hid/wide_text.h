#pragma once

#include <cstddef>
#include <string>

namespace ZELKUtil::Hid {

// Copies text into buffer, cut to maxlen - 1 characters and terminated, as the HID string calls
// fill their callers' buffers. False when maxlen is 0 (there is no room for the terminator); the
// buffer is untouched then.
bool CopyTerminated(const std::wstring& text, wchar_t* buffer, std::size_t maxlen);

}  // namespace ZELKUtil::Hid
