#include "hid/wide_text.h"

#include <algorithm>

namespace ZELKUtil::Hid {

bool CopyTerminated(const std::wstring& text, wchar_t* buffer, std::size_t maxlen) {
    if (maxlen == 0) {
        return false;
    }
    const std::size_t count = std::min(text.size(), maxlen - 1);
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = L'\0';
    return true;
}

}  // namespace ZELKUtil::Hid
