#include "box/emulated_box.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "box/box_reports.h"

namespace ZELKSim {

using namespace BoxReports;  // the box's own helpers

EmulatedBox::EmulatedBox(Timeline& timeline, BoxIdentity identity, std::string port)
    : timeline_(timeline), port_(std::move(port)), identity_(std::move(identity)) {}

EmulatedBox::~EmulatedBox() {
    timeline_.CancelAll(this);
}

BoxMode EmulatedBox::Mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

BoxMode EmulatedBox::Arriving() const {
    std::lock_guard lock(mutex_);
    return mode_ == BoxMode::Absent ? restartingInto_ : mode_;
}

std::uint64_t EmulatedBox::Presence() const {
    std::lock_guard lock(mutex_);
    return presence_;
}

void EmulatedBox::EnterMode(BoxMode mode) {
    ++presence_;
    restartingInto_ = BoxMode::Absent;
    hung_ = false;
    for (auto& [device, handle] : handles_) {
        handle->gone = true;
    }
    if (mode == BoxMode::Normal && storedIds_) {
        identity_.vid = storedIds_->vid;
        identity_.pid = storedIds_->pid;
        serial_ = storedIds_->serial;
        storedIds_.reset();
    }
    const bool changed = mode != mode_;
    mode_ = mode;
    if (changed && presenceListener_) {
        presenceListener_(mode);
    }
    timeline_.Notify();  // readers waiting on a handle that just went away
}

void EmulatedBox::SetPresenceListener(std::function<void(BoxMode)> listener) {
    std::lock_guard lock(mutex_);
    presenceListener_ = std::move(listener);
}

void EmulatedBox::Plug(BoxMode mode) {
    std::lock_guard lock(mutex_);
    EnterMode(mode);
}

void EmulatedBox::Unplug() {
    std::lock_guard lock(mutex_);
    EnterMode(BoxMode::Absent);
}

void EmulatedBox::Hang() {
    std::lock_guard lock(mutex_);
    hung_ = true;
}

bool EmulatedBox::Hung() const {
    std::lock_guard lock(mutex_);
    return hung_;
}

void EmulatedBox::Restart(BoxMode into, std::int64_t absentMs) {
    std::lock_guard lock(mutex_);
    RestartLocked(into, absentMs);
}

void EmulatedBox::RestartLocked(BoxMode into, std::int64_t absentMs) {
    EnterMode(BoxMode::Absent);
    restartingInto_ = into;
    const std::uint64_t presence = presence_;
    timeline_.ScheduleAt(this, timeline_.NowMs() + absentMs, [this, into, presence] {
        std::lock_guard actionLock(mutex_);
        if (presence_ == presence) {  // nobody plugged or unplugged it meanwhile
            EnterMode(into);
        }
    });
}

void EmulatedBox::SetRestartMs(std::int64_t ms) {
    std::lock_guard lock(mutex_);
    restartMs_ = ms;
}

std::int64_t EmulatedBox::RestartMs() const {
    std::lock_guard lock(mutex_);
    return restartMs_;
}

void EmulatedBox::SetDriverState(int code) {
    std::lock_guard lock(mutex_);
    driverState_ = code;
}

void EmulatedBox::CompleteArmDownload(const std::string& version) {
    std::int64_t absentMs = 0;
    {
        std::lock_guard lock(mutex_);
        version_ = version;
        absentMs = restartMs_;
    }
    Restart(BoxMode::Normal, absentMs);
}

void EmulatedBox::BecomeFpgaProgrammer() {
    std::int64_t absentMs = 0;
    {
        std::lock_guard lock(mutex_);
        absentMs = restartMs_;
    }
    Restart(BoxMode::FpgaProgrammer, absentMs);
}

void EmulatedBox::SetFpgaIdcode(std::uint32_t idcode) {
    std::lock_guard lock(mutex_);
    fpgaIdcode_ = idcode;
}

std::uint32_t EmulatedBox::FpgaIdcode() const {
    std::lock_guard lock(mutex_);
    return fpgaIdcode_;
}

void EmulatedBox::SetFpgaChecksum(std::uint16_t checksum) {
    std::lock_guard lock(mutex_);
    fpgaChecksum_ = checksum;
}

std::uint16_t EmulatedBox::FpgaChecksum() const {
    std::lock_guard lock(mutex_);
    return fpgaChecksum_;
}

void EmulatedBox::SetIdentity(const BoxIdentity& identity) {
    std::lock_guard lock(mutex_);
    identity_ = identity;
}

BoxIdentity EmulatedBox::Identity() const {
    std::lock_guard lock(mutex_);
    return identity_;
}

void EmulatedBox::SetFirmwareVersion(const std::string& version) {
    std::lock_guard lock(mutex_);
    version_ = version;
}

std::string EmulatedBox::FirmwareVersion() const {
    std::lock_guard lock(mutex_);
    return version_;
}

void EmulatedBox::SetSerial(const std::string& serial) {
    std::lock_guard lock(mutex_);
    serial_ = serial;
}

void EmulatedBox::SetEye(std::uint8_t eye) {
    std::lock_guard lock(mutex_);
    eye_ = eye;
}

void EmulatedBox::SetDiagnostics(const DiagnosticsState& diagnostics) {
    std::lock_guard lock(mutex_);
    diagnostics_ = diagnostics;
}

bool EmulatedBox::RingsOn() const {
    std::lock_guard lock(mutex_);
    return ringsOn_;
}

std::optional<StoredUsbIds> EmulatedBox::StoredIds() const {
    std::lock_guard lock(mutex_);
    return storedIds_;
}

void EmulatedBox::SendEyeChangedEvent(std::uint8_t eye) {
    EVENT_TARGET_EYE_CHANGED event{};
    event.event_code = EVT_TARGET_EYE_CHANGED;
    event.eye = eye;
    std::lock_guard lock(mutex_);
    Emit(Encode(event, MSG_EVENT));
}

void EmulatedBox::SendErrorEvent(std::int8_t errorCode) {
    EVENT_ERROR event{};
    event.event_code = EVT_ERROR;
    event.error_code = errorCode;
    std::lock_guard lock(mutex_);
    Emit(Encode(event, MSG_EVENT));
}

void EmulatedBox::SendReport(std::span<const unsigned char> message) {
    Report report{};
    std::copy_n(message.begin(), std::min(message.size(), report.size()), report.begin());
    std::lock_guard lock(mutex_);
    Emit(report);
}

void EmulatedBox::SetAnswerBehaviour(AnswerBehaviour behaviour) {
    std::lock_guard lock(mutex_);
    defaultBehaviour_ = behaviour;
}

void EmulatedBox::QueueAnswerBehaviour(AnswerBehaviour behaviour) {
    std::lock_guard lock(mutex_);
    queuedBehaviours_.push_back(behaviour);
}

void EmulatedBox::SetControlPipe(ControlPipe pipe) {
    std::lock_guard lock(mutex_);
    controlPipe_ = pipe;
}

void EmulatedBox::SetWriteOutcome(WriteOutcome outcome) {
    std::lock_guard lock(mutex_);
    writeOutcome_ = outcome;
}

void EmulatedBox::UnplugOnNextRequest() {
    std::lock_guard lock(mutex_);
    unplugOnNextRequest_ = true;
}

void EmulatedBox::SetHidAccess(bool allowed) {
    std::lock_guard lock(mutex_);
    hidAccess_ = allowed;
}

std::vector<HidOpenFailure> EmulatedBox::UsbOpenFailures() const {
    std::lock_guard lock(mutex_);
    return openFailures_;
}

std::vector<std::uint8_t> EmulatedBox::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void EmulatedBox::ForgetRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    requests_.shrink_to_fit();
}

int EmulatedBox::OpenHandles() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(handles_.size());
}

int EmulatedBox::ControlReads() const {
    std::lock_guard lock(mutex_);
    return controlReads_;
}

int EmulatedBox::InterruptReads() const {
    std::lock_guard lock(mutex_);
    return interruptReads_;
}

int EmulatedBox::TimeoutSettings() const {
    std::lock_guard lock(mutex_);
    return timeoutSettings_;
}
}  // namespace ZELKSim
