#include "device/messages.h"

ReportBuffer BuildBasicRequest(ids id) {
    BASIC_MESSAGE message{};
    InitMessage(message, id);
    return ToReport(message);
}

ReportBuffer BuildLightRingRequest(std::uint8_t setting) {
    CMD_LIGHT_RING_SETTING message{};
    InitMessage(message, MSG_LIGHT_RING_SETTING);
    message.setting = setting;
    return ToReport(message);
}

std::optional<ReportBuffer> BuildWriteUsbIdsRequest(std::uint16_t vid, std::uint16_t pid,
                                                    std::string_view serial) {
    if (serial.size() > kMaxUsbSerialLength) {
        return std::nullopt;
    }
    CMD_WRITE_USB_IDS message{};
    InitMessage(message, MSG_WRITE_USB_IDS);
    message.vid = vid;
    message.pid = pid;
    std::memcpy(message.serial, serial.data(), serial.size());  // the rest stays zero
    return ToReport(message);
}

BoxMessageKind ClassifyBoxMessage(std::span<const unsigned char> message) {
    if (message.size() <= offsetof(MESSAGE_HEADER, id)) {
        return BoxMessageKind::Unknown;
    }
    switch (message[offsetof(MESSAGE_HEADER, id)]) {
        case MSG_OK:
            return BoxMessageKind::Ok;
        case MSG_VERSION_NUMBER:
            return BoxMessageKind::VersionNumber;
        case MSG_SERIAL_NUMBER:
            return BoxMessageKind::SerialNumber;
        case MSG_TARGET_EYE:
            return BoxMessageKind::TargetEye;
        case MSG_DIAGNOSTICS:
            return BoxMessageKind::Diagnostics;
        case MSG_EVENT:
            break;
        default:
            return BoxMessageKind::Unknown;
    }
    if (message.size() <= kMessageHeaderSize) {
        return BoxMessageKind::OtherEvent;
    }
    switch (message[kMessageHeaderSize]) {
        case EVT_TARGET_EYE_CHANGED:
            return BoxMessageKind::TargetEyeChangedEvent;
        case EVT_ERROR:
            return BoxMessageKind::ErrorEvent;
        default:
            return BoxMessageKind::OtherEvent;
    }
}

std::string ReadMessageText(std::span<const unsigned char> message, std::size_t offset) {
    const std::size_t limit = std::min(message.size(), kReportDataSize);
    std::string text;
    for (std::size_t i = offset; i < limit && message[i] != 0; ++i) {
        // A control character the box sends (a CR LF in its version) would start a line of the
        // box's choosing in the log, a false "Upgrade Complete" among them: it shows as "?".
        const bool control = message[i] < 0x20 || message[i] == 0x7F;
        text.push_back(control ? '?' : static_cast<char>(message[i]));
    }
    return text;
}
