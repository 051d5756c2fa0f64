#include "device/zelk.h"

#include <algorithm>
#include <array>
#include <cwchar>

#include "device/diagnostics.h"
#include "platform/utf8.h"

namespace {

constexpr unsigned short kFpgaProgrammerVid = 0x14E3;
constexpr unsigned short kFpgaProgrammerPid = 0xF000;
constexpr int kBootloaderVid = 0x0471;
constexpr int kBootloaderPid = 0xDF55;
constexpr int kTransportTimeoutMs = 100;
constexpr std::uint32_t kEventPollTimeoutMs = 10;
constexpr std::int64_t kPauseBeforeReadMs = 10;
constexpr std::int64_t kPauseAfterPassMs = 1;
constexpr int kVersionAttempts = 3;
constexpr std::size_t kProductStringChars = 255;
// A control-pipe read that starts with one of these has delivered nothing from this firmware.
constexpr unsigned char kNoReportMarker = 0x78;

std::string EyeText(std::uint8_t eye) {
    switch (eye) {
        case 0:
            return "Eye: Left";
        case 1:
            return "Eye: Right";
        default:
            return "";
    }
}

}  // namespace

ZELK::ZELK(HidTransport& transport, DeviceTreeProbe& probe, ZELKUtil::Clock& clock,
           ReadPathModes& modes)
    : transport_(transport), probe_(probe), clock_(clock), modes_(modes) {}

// The window closes the box on destruction; doing it here as well means no path leaks the handle.
ZELK::~ZELK() {
    Close();
}

std::int32_t ZELK::Open() {
    if (ZELK_handle == nullptr) {
        ZELK_handle = transport_.hid_open(static_cast<unsigned short>(vid),
                                          static_cast<unsigned short>(pid), nullptr, 0);
    }
    if (ZELK_handle == nullptr) {
        return 0;
    }
    transport_.hid_set_nonblocking(ZELK_handle, 1, kTransportTimeoutMs);
    return 1;
}

std::int32_t ZELK::Close() {
    if (ZELK_handle == nullptr) {
        return 0;
    }
    transport_.hid_close(ZELK_handle);
    ZELK_handle = nullptr;
    return 1;
}

bool ZELK::WriteReport(const ReportBuffer& report) {
    return transport_.hid_write(ZELK_handle, report.data(), report.size()) > 0;
}

bool ZELK::ExchangeOnce(const ReportBuffer& request, ids awaited, ReportBuffer& answer) {
    if (!WriteReport(request)) {
        return false;
    }
    if (read_packet(answer.data()) == -1) {
        return false;
    }
    return answer[offsetof(MESSAGE_HEADER, id)] == awaited;
}

std::string ZELK::GetVersion() {
    if (Open() == 0) {
        Close();
        return "";
    }
    ReportBuffer answer{};
    for (int attempt = 0; attempt < kVersionAttempts; ++attempt) {
        if (ExchangeOnce(BuildBasicRequest(MSG_GET_VERSION_NUMBER), MSG_VERSION_NUMBER, answer)) {
            return ReadMessageText(answer, offsetof(RSP_VERSION_NUMBER_MESSAGE, version));
        }
    }
    Close();
    return "";
}

std::string ZELK::GetSerial() {
    ReportBuffer answer{};
    if (Open() == 0 ||
        !ExchangeOnce(BuildBasicRequest(MSG_GET_SERIAL_NUMBER), MSG_SERIAL_NUMBER, answer)) {
        Close();
        return "";
    }
    return ReadMessageText(answer, offsetof(RSP_SERIAL_NUMBER_MESSAGE, serial));
}

std::string ZELK::GetEye() {
    ReportBuffer answer{};
    if (Open() == 0 ||
        !ExchangeOnce(BuildBasicRequest(MSG_GET_TARGET_EYE), MSG_TARGET_EYE, answer)) {
        Close();
        return "";
    }
    std::string eye = EyeText(answer[offsetof(RSP_TARGET_EYE_MESSAGE, eye)]);
    if (eye.empty()) {
        Close();
    }
    return eye;
}

std::int32_t ZELK::EnableQ750AutoRing() {
    if (Open() == 0) {
        return 0;
    }
    ReportBuffer answer{};
    return ExchangeOnce(BuildLightRingRequest(1), MSG_OK, answer) ? 1 : 0;
}

std::int32_t ZELK::SetUSBIDs(std::int16_t v, std::int16_t p, const char* serial) {
    if (Open() == 0) {
        Close();
        return 0;
    }
    // A text that would fill the field without its terminating zero is refused like a longer one:
    // the firmware reads the field as a zero-ended text and would run into the end byte. A missing
    // text is refused too.
    if (serial == nullptr) {
        return 0;
    }
    const auto request = BuildWriteUsbIdsRequest(static_cast<std::uint16_t>(v),
                                                 static_cast<std::uint16_t>(p), serial);
    if (!request) {
        return 0;
    }
    ReportBuffer answer{};
    if (!ExchangeOnce(*request, MSG_OK, answer)) {
        Close();
        return 0;
    }
    return 1;
}

std::string ZELK::GetDiag() {
    if (Open() == 0 || !WriteReport(BuildBasicRequest(MSG_GET_DIAGNOSTICS))) {
        Close();
        return "";
    }
    ReportBuffer answer{};
    for (int skipped = 0; skipped <= kMaxSkippedDiagMessages; ++skipped) {
        if (read_packet(answer.data()) <= 0) {
            break;
        }
        if (answer[offsetof(MESSAGE_HEADER, id)] == MSG_DIAGNOSTICS) {
            return DecodeDiagnostics(answer);
        }
    }
    Close();
    return "";
}

std::int32_t ZELK::StartBootloader() {
    if (Open() == 0) {
        return 0;
    }
    return WriteReport(BuildBasicRequest(MSG_START_BOOTLOADER)) ? 1 : 0;
}

std::string ZELK::CheckEvent() {
    if (Open() == 0) {
        Close();
        return "";
    }
    ReportBuffer event{};
    if (read_packet(event.data(), kEventPollTimeoutMs) == -1) {
        return "";
    }
    const auto evt = FromBytes<EVENT_ERROR>(event);
    switch (ClassifyBoxMessage(event)) {
        case BoxMessageKind::TargetEyeChangedEvent:
            return EyeText(event[offsetof(EVENT_TARGET_EYE_CHANGED, eye)]);
        case BoxMessageKind::ErrorEvent:
            return "Err: " + std::to_string(evt.error_code);
        default:
            return "";
    }
}

std::string ZELK::GetManufacturer() {
    if (Open() == 0) {
        Close();
        return "";
    }
    std::array<wchar_t, kProductStringChars> product{};
    if (transport_.hid_get_product_string(ZELK_handle, product.data(), product.size()) != 0) {
        Close();
        return "";
    }
    product.back() = L'\0';  // a transport that filled the buffer must not lead the read past it
    return ZELKUtil::WideToUtf8(product.data());
}

std::int32_t ZELK::CheckForFpgaProg() {
    hid_device* programmer =
        transport_.hid_open(kFpgaProgrammerVid, kFpgaProgrammerPid, nullptr, 1);
    transport_.hid_close(programmer);
    return programmer != nullptr ? 1 : 0;
}

std::int32_t ZELK::CheckForBootloader() {
    return probe_.FindDevice(kBootloaderVid, kBootloaderPid, 0);
}

std::string ZELK::Port() {
    return ZELK_handle != nullptr ? transport_.hid_port(ZELK_handle) : std::string();
}

std::vector<ProbeMatch> ZELK::Bootloaders() {
    return probe_.FindDevices(kBootloaderVid, kBootloaderPid);
}

std::vector<std::string> ZELK::ProgrammerPorts() {
    return transport_.hid_ports(kFpgaProgrammerVid, kFpgaProgrammerPid);
}

std::string ZELK::BootloaderPort() {
    const std::vector<ProbeMatch> found = Bootloaders();
    return found.size() == 1 ? found.front().port : std::string();
}

std::string ZELK::ProgrammerPort() {
    const std::vector<std::string> found = ProgrammerPorts();
    return found.size() == 1 ? found.front() : std::string();
}

std::vector<std::string> ZELK::BoxPorts(
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& normalIds) {
    std::vector<std::string> ports;
    const auto add = [&ports](const std::string& port) {
        if (port.empty() || std::find(ports.begin(), ports.end(), port) == ports.end()) {
            ports.push_back(port);
        }
    };
    for (const auto& [boxVid, boxPid] : normalIds) {
        if (boxVid != kFpgaProgrammerVid || boxPid != kFpgaProgrammerPid) {
            for (const std::string& port : transport_.hid_ports(boxVid, boxPid)) {
                add(port);
            }
        }
    }
    for (const std::string& port : ProgrammerPorts()) {
        add(port);
    }
    for (const ProbeMatch& match : Bootloaders()) {
        add(match.port);
    }
    return ports;
}

int ZELK::read_packet(unsigned char* data, std::uint32_t timeout) {
    clock_.SleepMs(kPauseBeforeReadMs);
    const std::int64_t deadline = clock_.NowMs() + timeout;
    int result = -1;
    std::fill_n(data, kReportBufferSize, 0);
    std::int64_t now = 0;
    do {
        if (modes_.tryIntFirst == 0) {
            result = transport_.hid_read(ZELK_handle, data, kReportBufferSize);
            if (modes_.requestWorks == 0) {
                if (data[0] == kNoReportMarker || data[0] == 0x00) {
                    result = transport_.hid_read_int(ZELK_handle, data, kReportBufferSize);
                    if (result > 0) {
                        modes_.tryIntFirst = 1;
                    }
                } else {
                    modes_.requestWorks = 1;
                }
            }
        } else {
            result = transport_.hid_read_int(ZELK_handle, data, kReportBufferSize);
        }
        clock_.SleepMs(kPauseAfterPassMs);
        now = clock_.NowMs();
        if (result > 0 && data[0] != 0) {
            return result;
        }
    } while (deadline > now);
    return result;
}
