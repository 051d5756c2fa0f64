#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/messages.h"
#include "hid/hid_transport.h"
#include "time/timeline.h"

namespace ZELKSim {

// Where the box is on the USB bus.
enum class BoxMode {
    Normal,          // its firmware runs: HID interface under the identity's VID/PID
    Bootloader,      // the DFU bootloader, VID 0x0471 PID 0xDF55: no HID, only the device tree
    FpgaProgrammer,  // the FPGA-programmer firmware: HID interface VID 0x14E3 PID 0xF000
    Absent,          // unplugged, or between two modes while it restarts
};

// The mode as the demo's panel and `zelk-sim present` tell it.
constexpr const char* ModeText(BoxMode mode) {
    switch (mode) {
        case BoxMode::Normal:
            return "normal mode";
        case BoxMode::Bootloader:
            return "bootloader";
        case BoxMode::FpgaProgrammer:
            return "FPGA programmer";
        case BoxMode::Absent:
            break;
    }
    return "not on the bus";
}

// How the box's firmware answers a control-pipe request for its current input report.
enum class ControlPipe {
    Works,            // delivers the next pending report (zeros when none is pending)
    Fails,            // the request fails
    AnswersMarker78,  // delivers a report whose first byte is 0x78, whatever is pending
    AnswersZero,      // delivers a report of zeros, whatever is pending
};

// What becomes of a request that the host writes.
enum class WriteOutcome {
    Accepted,
    Fails,     // the write fails at once (-1)
    TimesOut,  // the box does not take it within the handle's time-out (-2)
};

// How the box answers one request.
struct AnswerBehaviour {
    enum class Kind { Answer, Silent, WrongId, Late };
    Kind kind = Kind::Answer;
    std::int64_t delayMs = 0;  // for Late

    static AnswerBehaviour Normal() { return {}; }
    static AnswerBehaviour Silent() { return {Kind::Silent, 0}; }
    // Answers with a well-formed message of another ID.
    static AnswerBehaviour WrongId() { return {Kind::WrongId, 0}; }
    static AnswerBehaviour Late(std::int64_t ms) { return {Kind::Late, ms}; }
};

// What the box presents in its normal mode.
struct BoxIdentity {
    std::uint16_t vid = 0x14E3;
    std::uint16_t pid = 0x0706;
    std::wstring product = L"ZELK";
};

// What the firmware reports in its diagnostics answer; the ring state comes from the box itself.
struct DiagnosticsState {
    std::int8_t hardware = 2;
    std::int8_t mains_power = 1;
    std::uint8_t frontend_flags = 0x05;
    std::int8_t video_in = 1;
    std::int8_t video_stream = 0x10;
    std::int8_t tasker_error = 0;
    std::int8_t i2c_errors = 0;
    std::int8_t usb_errors = 0;
    std::int16_t fpga_version = 0x0102;
    std::int16_t fpga_vid_width = 720;
    std::int16_t fpga_vid_height = 576;
    bool sendsRingState = true;  // older firmware answers with length 15 and no ring state
};

// The USB IDs and serial text that a MSG_WRITE_USB_IDS stored; they take effect at the next start
// of the normal firmware.
struct StoredUsbIds {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::string serial;
};

// A model of one box: its firmware's answers to the host's messages, its events, its USB presence
// in each mode and the ways it can misbehave. The HID side is reached through
// EmulatedHidTransport, the device tree through EmulatedDeviceProbe; tests, emulated tools and
// scenarios drive it through the operations below. Timed behaviour (restarts, late answers,
// interrupt reads that wait) runs on the Timeline, so the same box works in virtual and in real
// time. Every operation is thread-safe; scheduled actions of the box are cancelled when it goes.
class EmulatedBox {
  public:
    static constexpr std::int64_t kDefaultRestartMs = 1500;
    static constexpr std::uint16_t kBootloaderVid = 0x0471;
    static constexpr std::uint16_t kBootloaderPid = 0xDF55;
    static constexpr std::uint16_t kProgrammerVid = 0x14E3;
    static constexpr std::uint16_t kProgrammerPid = 0xF000;
    // Input reports an open interface holds until they are read; more are dropped, as the
    // kernel's hidraw buffer drops them.
    static constexpr std::size_t kMaxQueuedReports = 64;

    // The port a box sits on when nobody says otherwise.
    static constexpr const char* kDefaultPort = "1-1";

    // The box starts plugged in, in normal mode, on its USB port: the port stays the same in
    // every mode, as a real box's does.
    explicit EmulatedBox(Timeline& timeline, BoxIdentity identity = {},
                         std::string port = kDefaultPort);
    ~EmulatedBox();
    EmulatedBox(const EmulatedBox&) = delete;
    EmulatedBox& operator=(const EmulatedBox&) = delete;

    // --- Presence and modes (scenario runner, emulated tools) ---
    const std::string& Port() const { return port_; }
    BoxMode Mode() const;
    // The mode it is in, or, while it restarts, the mode it will come back in (Absent when it
    // was unplugged): what a power cut of the PC at this moment would leave on the bus.
    BoxMode Arriving() const;
    // Changes whenever the box leaves or enters the bus: a tool that opened the box sees by it
    // whether the device it holds is still the same one.
    std::uint64_t Presence() const;
    // Appears at once in `mode`; a restart still pending is called off.
    void Plug(BoxMode mode = BoxMode::Normal);
    void Unplug();
    // Leaves the bus now and comes back in `into` after `absentMs`.
    void Restart(BoxMode into, std::int64_t absentMs);
    // Stops answering in whatever mode it is, still on the bus: no request gets an answer and a
    // tool that holds it loses it, until it is next plugged in or restarts.
    void Hang();
    bool Hung() const;
    // How long the box stays away when it restarts by itself (bootloader request, download done).
    void SetRestartMs(std::int64_t ms);
    std::int64_t RestartMs() const;
    // The device-tree probe's code for the bootloader: -1 (not found) to 3 (see DeviceTreeProbe).
    void SetDriverState(int code);
    // Told of every change of the box's presence on the bus (unplugged, restarting, back in any
    // mode), with the new mode, as the system tells of a device change. Called with the box's lock
    // held, on whichever thread changed it: the listener only takes note, it never calls the box.
    void SetPresenceListener(std::function<void(BoxMode)> listener);

    // --- Emulated tools ---
    // A finished ARM download: the new firmware version, then a restart into normal mode.
    void CompleteArmDownload(const std::string& version);
    // The programmer firmware was downloaded: restart into FPGA-programmer mode.
    void BecomeFpgaProgrammer();
    void SetFpgaIdcode(std::uint32_t idcode);
    std::uint32_t FpgaIdcode() const;
    void SetFpgaChecksum(std::uint16_t checksum);
    std::uint16_t FpgaChecksum() const;

    // --- What the firmware reports ---
    void SetIdentity(const BoxIdentity& identity);
    BoxIdentity Identity() const;
    void SetFirmwareVersion(const std::string& version);
    std::string FirmwareVersion() const;
    void SetSerial(const std::string& serial);  // up to 6 characters fit the answer
    void SetEye(std::uint8_t eye);              // 0 left, 1 right; others are invalid answers
    void SetDiagnostics(const DiagnosticsState& diagnostics);
    bool RingsOn() const;
    std::optional<StoredUsbIds> StoredIds() const;

    // --- Events, sent at once to every open handle of the normal interface ---
    void SendEyeChangedEvent(std::uint8_t eye);
    void SendErrorEvent(std::int8_t errorCode);
    void SendReport(std::span<const unsigned char> message);

    // --- Misbehaviour ---
    // The behaviour for every request without a queued one.
    void SetAnswerBehaviour(AnswerBehaviour behaviour);
    // The behaviour for the next request only; several queue up in order.
    void QueueAnswerBehaviour(AnswerBehaviour behaviour);
    void SetControlPipe(ControlPipe pipe);
    void SetWriteOutcome(WriteOutcome outcome);
    // The next request is taken, then the box is pulled out before it can answer.
    void UnplugOnNextRequest();
    // Whether this user may open the box's HID interface (no: present, but every open fails with
    // EACCES, as a root-owned hidraw node without the udev rule).
    void SetHidAccess(bool allowed);

    // --- Observation ---
    // IDs of the requests that the box took, in order.
    std::vector<std::uint8_t> Requests() const;
    // Starts the list of requests afresh (a long run keeps it from growing without end).
    void ForgetRequests();
    int OpenHandles() const;  // not yet closed, whether or not the box is still there
    int ControlReads() const;
    int InterruptReads() const;
    int TimeoutSettings() const;  // hid_set_nonblocking calls

  private:
    friend class EmulatedHidTransport;
    friend class EmulatedDeviceProbe;
    struct Handle;
    using Report = std::array<unsigned char, kReportDataSize>;

    // USB side, for the adapters.
    hid_device* UsbOpen(unsigned short vid, unsigned short pid, const wchar_t* serial,
                        int exclusive);
    int UsbSetTimeout(hid_device* device, int nonblock, int timeout);
    int UsbWrite(hid_device* device, const unsigned char* data, std::size_t length);
    int UsbReadInterrupt(hid_device* device, unsigned char* data, std::size_t length);
    int UsbReadControl(hid_device* device, unsigned char* data, std::size_t length);
    int UsbProductString(hid_device* device, wchar_t* string, std::size_t maxlen);
    void UsbClose(hid_device* device);
    const wchar_t* UsbError(hid_device* device);
    std::vector<HidOpenFailure> UsbOpenFailures() const;
    // Whether an HID interface with the IDs is on the bus now (whoever may open it).
    bool UsbPresents(unsigned short vid, unsigned short pid) const;
    int UsbFindDevice(int vendorId, int productId) const;

    // With mutex_ held.
    void EnterMode(BoxMode mode);
    void RestartLocked(BoxMode into, std::int64_t absentMs);
    void Emit(const Report& report);
    std::optional<Report> AnswerTo(const unsigned char* message);
    Handle* Live(hid_device* device);

    Timeline& timeline_;
    const std::string port_;
    mutable std::mutex mutex_;
    BoxMode mode_ = BoxMode::Normal;
    BoxMode restartingInto_ = BoxMode::Absent;
    std::uint64_t presence_ = 0;  // counts mode changes; a pending restart checks it
    std::int64_t restartMs_ = kDefaultRestartMs;
    int driverState_ = 3;
    std::function<void(BoxMode)> presenceListener_;
    BoxIdentity identity_;
    std::string version_ = "1.0.0";
    std::string serial_ = "000001";
    std::uint8_t eye_ = 0;
    DiagnosticsState diagnostics_;
    bool ringsOn_ = false;
    std::optional<StoredUsbIds> storedIds_;
    std::uint32_t fpgaIdcode_ = 0;
    std::uint16_t fpgaChecksum_ = 0;

    AnswerBehaviour defaultBehaviour_;
    std::deque<AnswerBehaviour> queuedBehaviours_;
    ControlPipe controlPipe_ = ControlPipe::Works;
    WriteOutcome writeOutcome_ = WriteOutcome::Accepted;
    bool unplugOnNextRequest_ = false;
    bool hidAccess_ = true;
    bool hung_ = false;
    std::vector<HidOpenFailure> openFailures_;  // of the last open

    std::map<hid_device*, std::unique_ptr<Handle>> handles_;
    std::vector<std::uint8_t> requests_;
    int controlReads_ = 0;
    int interruptReads_ = 0;
    int timeoutSettings_ = 0;
};

}  // namespace ZELKSim
