#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace ZELKUtil::Windows {

// The system's message text for an error code (system message table, default language, inserts
// ignored), cut at its first carriage return so that the trailing line break is never part of
// it. A code the system has no text for reads "error N".
std::wstring SystemErrorTextW(unsigned long code);
std::string SystemErrorText(unsigned long code);

// An Error for a failed call that left code in GetLastError; the reason is SystemErrorText(code).
Error ErrorFromSystemCode(std::string operation, unsigned long code);

}  // namespace ZELKUtil::Windows
