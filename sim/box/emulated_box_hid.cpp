#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "box/box_reports.h"
#include "box/emulated_box.h"

// The box's HID side: the firmware's answers to the host's messages, and what the transport's
// calls (open, write, the two reads, close) find on the bus.
namespace ZELKSim {

using namespace BoxReports;  // the box's own helpers

// Input reports reach every reader of the normal interface that is open when they are sent.
void EmulatedBox::Emit(const Report& report) {
    if (mode_ != BoxMode::Normal) {
        return;
    }
    for (auto& [device, handle] : handles_) {
        if (!handle->gone && handle->vid == identity_.vid && handle->pid == identity_.pid &&
            handle->input.size() < kMaxQueuedReports) {
            handle->input.push_back(report);
        }
    }
    timeline_.Notify();
}

// The firmware's answer to one request, or nothing for a request that it does not answer.
std::optional<EmulatedBox::Report> EmulatedBox::AnswerTo(const unsigned char* message) {
    switch (message[offsetof(MESSAGE_HEADER, id)]) {
        case MSG_GET_VERSION_NUMBER: {
            RSP_VERSION_NUMBER_MESSAGE answer{};
            CopyText(answer.version, version_);
            return Encode(answer, MSG_VERSION_NUMBER);
        }
        case MSG_GET_SERIAL_NUMBER: {
            RSP_SERIAL_NUMBER_MESSAGE answer{};
            CopyText(answer.serial, serial_);
            return Encode(answer, MSG_SERIAL_NUMBER);
        }
        case MSG_GET_TARGET_EYE: {
            RSP_TARGET_EYE_MESSAGE answer{};
            answer.eye = eye_;
            return Encode(answer, MSG_TARGET_EYE);
        }
        case MSG_LIGHT_RING_SETTING:
            ringsOn_ = message[offsetof(CMD_LIGHT_RING_SETTING, setting)] != 0;
            return Encode(RSP_OK_MESSAGE{}, MSG_OK);
        case MSG_WRITE_USB_IDS: {
            CMD_WRITE_USB_IDS request{};
            std::memcpy(&request, message, sizeof request);
            storedIds_ = StoredUsbIds{request.vid, request.pid,
                                      std::string(request.serial, strnlen(request.serial, 12))};
            return Encode(RSP_OK_MESSAGE{}, MSG_OK);
        }
        case MSG_GET_DIAGNOSTICS: {
            RSP_DIAGNOSTICS_MESSAGE answer{};
            const DiagnosticsState& d = diagnostics_;
            answer.hardware = d.hardware;
            answer.mains_power = d.mains_power;
            answer.frontend_flags = d.frontend_flags;
            answer.video_in = d.video_in;
            answer.video_stream = d.video_stream;
            answer.tasker_error = d.tasker_error;
            answer.i2c_errors = d.i2c_errors;
            answer.usb_errors = d.usb_errors;
            answer.fpga_version = d.fpga_version;
            answer.fpga_vid_width = d.fpga_vid_width;
            answer.fpga_vid_height = d.fpga_vid_height;
            auto report = Encode(answer, MSG_DIAGNOSTICS);
            if (d.sendsRingState) {
                report[offsetof(RSP_DIAGNOSTICS_MESSAGE, rings)] = ringsOn_ ? 1 : 0;
            } else {
                // The older message ends where the ring state would begin.
                report[offsetof(MESSAGE_HEADER, length)] = 15;
                report[offsetof(RSP_DIAGNOSTICS_MESSAGE, rings)] = kMessageEnd;
            }
            return report;
        }
        case MSG_START_BOOTLOADER:
            RestartLocked(BoxMode::Bootloader, restartMs_);
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

EmulatedBox::Handle* EmulatedBox::Live(hid_device* device) {
    auto found = handles_.find(device);
    if (found == handles_.end()) {
        return nullptr;
    }
    Handle* handle = found->second.get();
    if (handle->gone) {
        handle->error = kGoneText;
        return nullptr;
    }
    return handle;
}

bool EmulatedBox::UsbPresents(unsigned short vid, unsigned short pid) const {
    std::lock_guard lock(mutex_);
    return (mode_ == BoxMode::Normal && vid == identity_.vid && pid == identity_.pid) ||
           (mode_ == BoxMode::FpgaProgrammer && vid == kProgrammerVid && pid == kProgrammerPid);
}

hid_device* EmulatedBox::UsbOpen(unsigned short vid, unsigned short pid, const wchar_t* serial,
                                 int exclusive) {
    std::lock_guard lock(mutex_);
    openFailures_.clear();
    const bool normal = mode_ == BoxMode::Normal && vid == identity_.vid && pid == identity_.pid;
    const bool programmer =
        mode_ == BoxMode::FpgaProgrammer && vid == kProgrammerVid && pid == kProgrammerPid;
    if ((normal || programmer) && !hidAccess_) {
        openFailures_.push_back({"/dev/hidraw0", ZELKUtil::ErrorFromErrno("open", EACCES)});
        return nullptr;
    }
    // Enumeration carries no serial numbers, so an open that asks for one finds nothing.
    if ((!normal && !programmer) || serial != nullptr) {
        return nullptr;
    }
    for (const auto& [device, handle] : handles_) {
        const bool sameInterface = !handle->gone && handle->vid == vid && handle->pid == pid;
        if (sameInterface && (exclusive != 0 || handle->exclusive)) {
            return nullptr;
        }
    }
    auto handle = std::make_unique<Handle>();
    handle->vid = vid;
    handle->pid = pid;
    handle->exclusive = exclusive != 0;
    hid_device* device = handle.get();
    handles_.emplace(device, std::move(handle));
    return device;
}

int EmulatedBox::UsbSetTimeout(hid_device* device, int nonblock, int timeout) {
    std::lock_guard lock(mutex_);
    ++timeoutSettings_;
    auto found = handles_.find(device);
    if (found == handles_.end()) {
        return -1;
    }
    found->second->timeoutMs = nonblock != 0 ? static_cast<std::uint32_t>(timeout) : kHidNoTimeout;
    return 0;
}

int EmulatedBox::UsbWrite(hid_device* device, const unsigned char* data, std::size_t length) {
    std::unique_lock lock(mutex_);
    Handle* handle = Live(device);
    if (handle == nullptr) {
        return -1;
    }
    if (writeOutcome_ == WriteOutcome::Fails) {
        handle->error = kFailText;
        return -1;
    }
    if (writeOutcome_ == WriteOutcome::TimesOut) {
        handle->error = kTimeoutText;
        const std::int64_t deadline = timeline_.NowMs() + handle->timeoutMs;
        lock.unlock();
        timeline_.WaitUntil(deadline, [] { return false; });
        return -2;
    }
    if (length < 1 + kMessageHeaderSize || data[0] != 0 || mode_ != BoxMode::Normal) {
        return static_cast<int>(length);  // taken, but nothing the firmware acts on
    }
    const unsigned char* message = data + 1;
    requests_.push_back(message[offsetof(MESSAGE_HEADER, id)]);
    if (unplugOnNextRequest_) {
        unplugOnNextRequest_ = false;
        EnterMode(BoxMode::Absent);
        return static_cast<int>(length);
    }
    AnswerBehaviour behaviour = defaultBehaviour_;
    if (!queuedBehaviours_.empty()) {
        behaviour = queuedBehaviours_.front();
        queuedBehaviours_.pop_front();
    }
    std::array<unsigned char, kReportDataSize> request{};
    std::copy_n(message, std::min(length - 1, request.size()), request.begin());
    std::optional<Report> answer = AnswerTo(request.data());
    if (!answer || hung_ || behaviour.kind == AnswerBehaviour::Kind::Silent) {
        return static_cast<int>(length);
    }
    if (behaviour.kind == AnswerBehaviour::Kind::WrongId) {
        const bool isOk = (*answer)[offsetof(MESSAGE_HEADER, id)] == MSG_OK;
        answer = isOk ? Encode(RSP_TARGET_EYE_MESSAGE{}, MSG_TARGET_EYE)
                      : Encode(RSP_OK_MESSAGE{}, MSG_OK);
    }
    if (behaviour.kind == AnswerBehaviour::Kind::Late) {
        const std::uint64_t presence = presence_;
        timeline_.ScheduleAt(this, timeline_.NowMs() + behaviour.delayMs,
                             [this, presence, report = *answer] {
                                 std::lock_guard actionLock(mutex_);
                                 if (presence_ == presence) {
                                     Emit(report);
                                 }
                             });
    } else {
        Emit(*answer);
    }
    return static_cast<int>(length);
}

int EmulatedBox::UsbReadInterrupt(hid_device* device, unsigned char* data, std::size_t length) {
    std::unique_lock lock(mutex_);
    Handle* handle = Live(device);
    if (handle == nullptr) {
        return -1;
    }
    ++interruptReads_;
    if (handle->input.empty()) {
        const std::int64_t wait =
            handle->timeoutMs == kHidNoTimeout ? kUnlimitedWaitMs : handle->timeoutMs;
        const std::int64_t deadline = timeline_.NowMs() + wait;
        lock.unlock();
        timeline_.WaitUntil(deadline, [this, device] {
            std::lock_guard readyLock(mutex_);
            auto found = handles_.find(device);
            return found == handles_.end() || found->second->gone || !found->second->input.empty();
        });
        lock.lock();
        handle = Live(device);
        if (handle == nullptr) {
            return -1;
        }
        if (handle->input.empty()) {
            return 0;
        }
    }
    const std::size_t count = std::min(length, kReportDataSize);
    std::copy_n(handle->input.front().begin(), count, data);
    handle->input.pop_front();
    return static_cast<int>(count);
}

int EmulatedBox::UsbReadControl(hid_device* device, unsigned char* data, std::size_t length) {
    if (length > 0) {
        data[0] = 0;
    }
    std::lock_guard lock(mutex_);
    Handle* handle = Live(device);
    if (handle == nullptr) {
        return -1;
    }
    ++controlReads_;
    const std::size_t count = std::min(length, kReportDataSize);
    switch (controlPipe_) {
        case ControlPipe::Fails:
            handle->error = kFailText;
            return -1;
        case ControlPipe::AnswersMarker78:
            std::fill_n(data, count, 0);
            if (count > 0) {
                data[0] = kNoReportMarker;
            }
            return static_cast<int>(count);
        case ControlPipe::AnswersZero:
            std::fill_n(data, count, 0);
            return static_cast<int>(count);
        case ControlPipe::Works:
            break;
    }
    if (handle->input.empty()) {
        std::fill_n(data, count, 0);  // the current report holds nothing new
    } else {
        std::copy_n(handle->input.front().begin(), count, data);
        handle->input.pop_front();
    }
    return static_cast<int>(count);
}

int EmulatedBox::UsbProductString(hid_device* device, wchar_t* string, std::size_t maxlen) {
    std::lock_guard lock(mutex_);
    Handle* handle = Live(device);
    if (handle == nullptr || maxlen == 0) {
        return -1;
    }
    const std::wstring product = handle->pid == kProgrammerPid && mode_ == BoxMode::FpgaProgrammer
                                     ? kProgrammerProduct
                                     : identity_.product;
    const std::size_t count = std::min(product.size(), maxlen - 1);
    std::copy_n(product.begin(), count, string);
    string[count] = L'\0';
    return 0;
}

void EmulatedBox::UsbClose(hid_device* device) {
    std::lock_guard lock(mutex_);
    handles_.erase(device);
    timeline_.Notify();
}

const wchar_t* EmulatedBox::UsbError(hid_device* device) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(device);
    if (found == handles_.end() || found->second->error.empty()) {
        return nullptr;
    }
    return found->second->error.c_str();
}

int EmulatedBox::UsbFindDevice(int vendorId, int productId) const {
    std::lock_guard lock(mutex_);
    switch (mode_) {
        case BoxMode::Bootloader:
            return vendorId == kBootloaderVid && productId == kBootloaderPid ? driverState_ : -1;
        case BoxMode::Normal:
            // The firmware's own interface runs under the system's HID driver.
            return vendorId == identity_.vid && productId == identity_.pid ? 1 : -1;
        case BoxMode::FpgaProgrammer:
            return vendorId == kProgrammerVid && productId == kProgrammerPid ? 1 : -1;
        case BoxMode::Absent:
            return -1;
    }
    return -1;
}

}  // namespace ZELKSim
