#pragma once

#include <span>
#include <string>

// The operator's report text for one diagnostics answer (an RSP_DIAGNOSTICS_MESSAGE as received,
// message at byte 0): one CR LF-ended line per item and a closing verdict without a line end.
// Bytes missing from a short buffer read as zero.
std::string DecodeDiagnostics(std::span<const unsigned char> answer);
