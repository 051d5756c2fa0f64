#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The framed messages exchanged with the box inside its HID reports. The structures are the exact
// byte images of the messages: packed, little-endian, with the header and the end byte included.
// The host runs only on little-endian machines, so the 16-bit fields are copied as they stand.
static_assert(std::endian::native == std::endian::little, "message images assume little-endian");

// Message IDs, as the byte at message offset 6.
enum ids : std::uint8_t {
    MSG_GET_VERSION_NUMBER = 0x02,
    MSG_GET_SERIAL_NUMBER = 0x03,
    MSG_WRITE_USB_IDS = 0x04,
    MSG_GET_TARGET_EYE = 0x10,
    MSG_LIGHT_RING_SETTING = 0x20,
    MSG_GET_DIAGNOSTICS = 0x30,
    MSG_START_BOOTLOADER = 0x31,
    MSG_OK = 0x80,
    MSG_VERSION_NUMBER = 0x81,
    MSG_SERIAL_NUMBER = 0x82,
    MSG_TARGET_EYE = 0x83,
    MSG_DIAGNOSTICS = 0x84,
    MSG_EVENT = 0xEE,
};

// Event codes, as the byte at message offset 7 of an MSG_EVENT.
enum event_codes : std::uint8_t {
    EVT_TARGET_EYE_CHANGED = 0x06,
    EVT_ERROR = 0xEE,
};

inline constexpr std::uint8_t kMessageStart = 0x5E;
inline constexpr std::uint8_t kMessageEnd = 0xE5;
inline constexpr std::uint8_t kRequestByte5 = 0x14;
// Bytes of a message before its payload: start, word1, length, byte5 and id.
inline constexpr std::size_t kMessageHeaderSize = 7;
// Report ID byte plus the 64 data bytes of one report.
inline constexpr std::size_t kReportBufferSize = 65;
inline constexpr std::size_t kReportDataSize = 64;

using ReportBuffer = std::array<unsigned char, kReportBufferSize>;

#pragma pack(push, 1)

struct MESSAGE_HEADER {
    std::uint8_t start;
    std::uint16_t word1;
    std::int16_t length;  // bytes from id up to, not including, end
    std::uint8_t byte5;
    std::uint8_t id;
};

struct BASIC_MESSAGE {
    MESSAGE_HEADER header;
    std::uint8_t end;
};

struct CMD_WRITE_USB_IDS {
    MESSAGE_HEADER header;
    std::uint16_t vid;
    std::uint16_t pid;
    char serial[12];
    std::uint8_t end;
};

struct CMD_LIGHT_RING_SETTING {
    MESSAGE_HEADER header;
    std::uint8_t setting;  // 1 = light rings in automatic operation
    std::uint8_t end;
};

struct RSP_OK_MESSAGE {
    MESSAGE_HEADER header;
    std::uint8_t end;
};

struct RSP_VERSION_NUMBER_MESSAGE {
    MESSAGE_HEADER header;
    char version[25];
    std::uint8_t end;
};

struct RSP_SERIAL_NUMBER_MESSAGE {
    MESSAGE_HEADER header;
    char serial[7];
    std::uint8_t end;
};

struct RSP_TARGET_EYE_MESSAGE {
    MESSAGE_HEADER header;
    std::uint8_t eye;  // 0 = left, 1 = right
    std::uint8_t end;
};

struct RSP_DIAGNOSTICS_MESSAGE {
    MESSAGE_HEADER header;
    std::int8_t hardware;
    std::int8_t mains_power;
    std::uint8_t frontend_flags;
    std::int8_t video_in;
    std::int8_t video_stream;
    std::int8_t tasker_error;
    std::int8_t i2c_errors;
    std::int8_t usb_errors;
    std::int16_t fpga_version;
    std::int16_t fpga_vid_width;
    std::int16_t fpga_vid_height;
    std::int8_t rings;  // only when header.length > 15
    std::uint8_t reserved[5];
    std::uint8_t end;
};

struct EVENT_TARGET_EYE_CHANGED {
    MESSAGE_HEADER header;
    std::uint8_t event_code;
    std::uint8_t eye;
    std::uint8_t end;
};

struct EVENT_ERROR {
    MESSAGE_HEADER header;
    std::uint8_t event_code;
    std::int8_t error_code;
    std::uint8_t end;
};

#pragma pack(pop)

// Frontend flag bits of RSP_DIAGNOSTICS_MESSAGE.
inline constexpr std::uint8_t kFrontendComms = 0x01;
inline constexpr std::uint8_t kFrontendGreyscale = 0x02;
inline constexpr std::uint8_t kFrontendColour = 0x04;
// A diagnostics answer with a greater length carries the ring state.
inline constexpr std::int16_t kDiagnosticsLengthWithoutRings = 15;

// The sizes are fixed by the firmware; only these byte images are understood by the box.
static_assert(sizeof(MESSAGE_HEADER) == kMessageHeaderSize);
static_assert(offsetof(MESSAGE_HEADER, length) == 3 && offsetof(MESSAGE_HEADER, id) == 6);
static_assert(sizeof(BASIC_MESSAGE) == 8);
static_assert(sizeof(CMD_WRITE_USB_IDS) == 24);
static_assert(offsetof(CMD_WRITE_USB_IDS, vid) == 7 && offsetof(CMD_WRITE_USB_IDS, pid) == 9);
static_assert(offsetof(CMD_WRITE_USB_IDS, serial) == 11 && offsetof(CMD_WRITE_USB_IDS, end) == 23);
static_assert(sizeof(CMD_LIGHT_RING_SETTING) == 9 &&
              offsetof(CMD_LIGHT_RING_SETTING, setting) == 7);
static_assert(sizeof(RSP_OK_MESSAGE) == 8);
static_assert(sizeof(RSP_VERSION_NUMBER_MESSAGE) == 33);
static_assert(offsetof(RSP_VERSION_NUMBER_MESSAGE, version) == 7);
static_assert(sizeof(RSP_SERIAL_NUMBER_MESSAGE) == 15);
static_assert(offsetof(RSP_SERIAL_NUMBER_MESSAGE, serial) == 7);
static_assert(sizeof(RSP_TARGET_EYE_MESSAGE) == 9 && offsetof(RSP_TARGET_EYE_MESSAGE, eye) == 7);
static_assert(sizeof(RSP_DIAGNOSTICS_MESSAGE) == 28);
static_assert(offsetof(RSP_DIAGNOSTICS_MESSAGE, hardware) == 7);
static_assert(offsetof(RSP_DIAGNOSTICS_MESSAGE, usb_errors) == 14);
static_assert(offsetof(RSP_DIAGNOSTICS_MESSAGE, fpga_version) == 15);
static_assert(offsetof(RSP_DIAGNOSTICS_MESSAGE, fpga_vid_width) == 17);
static_assert(offsetof(RSP_DIAGNOSTICS_MESSAGE, fpga_vid_height) == 19);
static_assert(offsetof(RSP_DIAGNOSTICS_MESSAGE, rings) == 21);
static_assert(offsetof(RSP_DIAGNOSTICS_MESSAGE, end) == 27);
static_assert(sizeof(EVENT_TARGET_EYE_CHANGED) == 10 &&
              offsetof(EVENT_TARGET_EYE_CHANGED, eye) == 8);
static_assert(sizeof(EVENT_ERROR) == 10 && offsetof(EVENT_ERROR, error_code) == 8);

// Fills a message's header and end byte as every request carries them: word1 0, byte5 0x14, and
// length derived from the structure's size. The payload is left as it is.
template <typename Message>
void InitMessage(Message& message, ids id) {
    message.header.start = kMessageStart;
    message.header.word1 = 0;
    message.header.length = static_cast<std::int16_t>(sizeof(Message) - kMessageHeaderSize);
    message.header.byte5 = kRequestByte5;
    message.header.id = id;
    message.end = kMessageEnd;
}

// The 65-byte output report that carries the message: report ID 0, the message from byte 1 on,
// zeros after it.
template <typename Message>
ReportBuffer ToReport(const Message& message) {
    static_assert(sizeof(Message) <= kReportDataSize);
    ReportBuffer report{};
    std::memcpy(report.data() + 1, &message, sizeof(Message));
    return report;
}

// Reads a message image out of received bytes; the bytes beyond what was received read as zero.
template <typename Message>
Message FromBytes(std::span<const unsigned char> bytes) {
    Message message{};
    std::memcpy(&message, bytes.data(), std::min(sizeof(Message), bytes.size()));
    return message;
}

// Plain requests: MSG_GET_VERSION_NUMBER, MSG_GET_SERIAL_NUMBER, MSG_GET_TARGET_EYE,
// MSG_GET_DIAGNOSTICS and MSG_START_BOOTLOADER.
ReportBuffer BuildBasicRequest(ids id);
ReportBuffer BuildLightRingRequest(std::uint8_t setting);

// Longest serial text that CMD_WRITE_USB_IDS carries together with its terminating zero byte.
inline constexpr std::size_t kMaxUsbSerialLength = sizeof(CMD_WRITE_USB_IDS::serial) - 1;
// nullopt when the serial text does not fit its field with its terminator.
std::optional<ReportBuffer> BuildWriteUsbIdsRequest(std::uint16_t vid, std::uint16_t pid,
                                                    std::string_view serial);

// How the host treats a message that the box sent.
enum class BoxMessageKind {
    Ok,
    VersionNumber,
    SerialNumber,
    TargetEye,
    Diagnostics,
    TargetEyeChangedEvent,
    ErrorEvent,
    OtherEvent,
    Unknown,  // includes a buffer into which nothing arrived (id 0)
};

// Decides by id, and for events by event_code; nothing else of the header counts.
BoxMessageKind ClassifyBoxMessage(std::span<const unsigned char> message);

// The 8-bit text that starts at `offset`, up to its first zero byte and never beyond the 64 data
// bytes of the report or the bytes given; a control character in it (C0 or DEL) reads as "?".
std::string ReadMessageText(std::span<const unsigned char> message, std::size_t offset);
