#include "platform/windows/text_conversion.h"

#include <windows.h>

#include <utility>

#include "platform/utf8.h"

namespace ZELKUtil::Windows {

std::wstring SystemErrorTextW(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer != nullptr) {
        text.assign(buffer, length);
    }
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    text = text.substr(0, text.find(L'\r'));
    if (text.empty()) {
        text = L"error " + std::to_wstring(code);
    }
    return text;
}

std::string SystemErrorText(unsigned long code) {
    return WideToUtf8(SystemErrorTextW(code));
}

Error ErrorFromSystemCode(std::string operation, unsigned long code) {
    ErrorKind kind = ErrorKind::SystemFailure;
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            kind = ErrorKind::NotFound;
            break;
        case ERROR_ACCESS_DENIED:
            kind = ErrorKind::AccessDenied;
            break;
        case ERROR_SHARING_VIOLATION:
            kind = ErrorKind::InUse;
            break;
        case ERROR_DIRECTORY:
            kind = ErrorKind::NotAFile;
            break;
        case ERROR_BAD_EXE_FORMAT:
            kind = ErrorKind::MalformedContent;
            break;
        default:
            break;
    }
    return Error{kind, std::move(operation), SystemErrorText(code)};
}

}  // namespace ZELKUtil::Windows
