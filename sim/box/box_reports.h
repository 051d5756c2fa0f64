#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <string>

#include "box/emulated_box.h"

// What the two halves of the box share: its open interfaces, and its reports as the firmware
// encodes them. The box's presence and state are emulated_box.cpp's, its HID side (the firmware's
// answers and the transport's calls) emulated_box_hid.cpp's.
namespace ZELKSim {

// One open HID interface of the box. `gone` marks an interface that has left the bus: the record
// stays valid until it is closed, but every transfer on it fails.
struct EmulatedBox::Handle : hid_device {
    unsigned short vid = 0;
    unsigned short pid = 0;
    bool exclusive = false;
    bool gone = false;
    std::uint32_t timeoutMs = kHidNoTimeout;
    std::deque<Report> input;
    std::wstring error;
};

namespace BoxReports {

// A read without a time-out would wait for ever for a box that never sends; the emulation gives
// up after a day of (usually virtual) time instead.
inline constexpr std::int64_t kUnlimitedWaitMs = 24LL * 60 * 60 * 1000;
inline constexpr unsigned char kNoReportMarker = 0x78;
inline const wchar_t* const kGoneText = L"No such device";
inline const wchar_t* const kFailText = L"Input/output error";
inline const wchar_t* const kTimeoutText = L"Connection timed out";
inline const wchar_t* const kProgrammerProduct = L"ZELK FPGA Programmer";

template <typename Message>
std::array<unsigned char, kReportDataSize> Encode(Message message, ids id) {
    InitMessage(message, id);
    std::array<unsigned char, kReportDataSize> report{};
    std::memcpy(report.data(), &message, sizeof(Message));
    return report;
}

template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(N - 1, text.size()));
}

}  // namespace BoxReports

}  // namespace ZELKSim
