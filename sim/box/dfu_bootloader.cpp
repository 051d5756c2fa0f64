#include "box/dfu_bootloader.h"

#include <algorithm>
#include <array>

namespace ZELKSim {
namespace {

constexpr std::string_view kImageMagic = "ZELKFW";
constexpr std::size_t kVersionField = 16;
constexpr std::size_t kTrailerSize = kImageMagic.size() + kVersionField + 4;

// DFU class requests and status codes.
enum : std::uint8_t { kDetach, kDnload, kUpload, kGetStatus, kClrStatus, kGetState, kAbort };
constexpr std::uint8_t kErrWrite = 0x03;
constexpr std::uint8_t kErrStalledPacket = 0x0F;
constexpr std::uint32_t kManifestPollMs = 100;
// What an UPLOAD reads back when nothing was downloaded in this visit: the firmware the box has.
constexpr std::size_t kUploadSize = 8192;

std::uint32_t Crc32(std::span<const unsigned char> bytes) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

void PutLe(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

ControlReply Data(std::vector<unsigned char> bytes, std::uint16_t length) {
    bytes.resize(std::min<std::size_t>(bytes.size(), length));
    return {false, std::move(bytes)};
}

}  // namespace

std::string MakeFirmwareImage(const std::string& version, std::size_t size) {
    std::string image;
    const std::size_t payload = size > kTrailerSize ? size - kTrailerSize : 0;
    for (std::size_t i = 0; i < payload; ++i) {
        image.push_back(static_cast<char>((i * 131 + i / 256) & 0xFF));
    }
    image += kImageMagic;
    std::string field = version.substr(0, kVersionField);
    field.resize(kVersionField, '\0');
    image += field;
    const std::uint32_t crc =
        Crc32({reinterpret_cast<const unsigned char*>(image.data()), image.size()});
    for (int i = 0; i < 4; ++i) {
        image.push_back(static_cast<char>(crc >> (8 * i)));
    }
    return image;
}

std::optional<std::string> FirmwareImageVersion(std::span<const unsigned char> image) {
    if (image.size() < kTrailerSize) {
        return std::nullopt;
    }
    const std::size_t trailer = image.size() - kTrailerSize;
    if (!std::equal(kImageMagic.begin(), kImageMagic.end(), image.begin() + trailer)) {
        return std::nullopt;
    }
    std::uint32_t stored = 0;
    for (int i = 0; i < 4; ++i) {
        stored |= static_cast<std::uint32_t>(image[image.size() - 4 + i]) << (8 * i);
    }
    if (stored != Crc32(image.first(image.size() - 4))) {
        return std::nullopt;
    }
    const auto field = image.subspan(trailer + kImageMagic.size(), kVersionField);
    std::string version(field.begin(), field.end());
    version.resize(version.find('\0') == std::string::npos ? version.size() : version.find('\0'));
    return version;
}

DfuBootloader::DfuBootloader(EmulatedBox& box, Timeline& clock, DfuFaults faults)
    : box_(box), clock_(clock), faults_(faults) {}

std::vector<unsigned char> DfuBootloader::InterfaceDescriptor() const {
    if (faults_.noDfuInterface) {
        return {9, 4, 0, 0, 0, 0xFF, 0, 0, 0};
    }
    return {9, 4, 0, 0, 0, 0xFE, 1, 2, 0};
}

ControlReply DfuBootloader::Control(const UsbSetup& setup) {
    std::lock_guard lock(mutex_);
    if ((setup.requestType & 0x7FU) != 0x21 || faults_.noDfuInterface) {
        return {true, {}};  // only the DFU interface has class requests
    }
    if (state_ == kManifestWaitReset && setup.request != kGetStatus) {
        return {true, {}};  // waits for the bus reset and answers nothing else
    }
    switch (setup.request) {
        case kDnload:
            return Download(setup);
        case kUpload:
            return Upload(setup);
        case kGetStatus:
            return Status();
        case kClrStatus:
            if (state_ != kError) {
                return Fail(kErrStalledPacket);
            }
            state_ = kDfuIdle;
            status_ = 0;
            image_.clear();
            return {};
        case kGetState:
            return Data({state_}, setup.length);
        case kAbort:
            if (state_ != kDfuIdle && state_ != kDnloadIdle && state_ != kUploadIdle) {
                return Fail(kErrStalledPacket);
            }
            state_ = kDfuIdle;
            image_.clear();
            uploaded_ = 0;
            return {};
        default:  // DETACH
            return Fail(kErrStalledPacket);
    }
}

ControlReply DfuBootloader::Download(const UsbSetup& setup) {
    if (faults_.refusesDownload) {
        return Fail(kErrWrite);
    }
    const bool first = state_ == kDfuIdle;
    if ((!first && state_ != kDnloadIdle) || (first && setup.length == 0) ||
        setup.length > kTransferSize) {
        return Fail(kErrStalledPacket);
    }
    if (setup.length == 0) {
        state_ = kManifestSync;
        lastDownload_ = CompletedDownload{firstBlockMs_, clock_.NowMs(), image_.size()};
        return {};
    }
    if (first) {
        image_.clear();
        brokenBlock_ = false;
        firstBlockMs_ = clock_.NowMs();
    }
    expected_ = setup.length;
    state_ = kDnloadSync;
    return {};
}

void DfuBootloader::Receive(std::span<const unsigned char> data) {
    {
        std::lock_guard lock(mutex_);
        // A data stage cut short leaves a hole in the image.
        brokenBlock_ = brokenBlock_ || data.size() != expected_;
        expected_ = 0;
        image_.insert(image_.end(), data.begin(), data.end());
        if (faults_.vanishAfterBytes == 0 || image_.size() < faults_.vanishAfterBytes) {
            return;
        }
    }
    box_.Unplug();
}

ControlReply DfuBootloader::Upload(const UsbSetup& setup) {
    if (state_ != kDfuIdle && state_ != kUploadIdle) {
        return Fail(kErrStalledPacket);
    }
    if (state_ == kDfuIdle) {
        uploaded_ = 0;
    }
    const std::string held = MakeFirmwareImage(box_.FirmwareVersion(), kUploadSize);
    const std::size_t count = std::min<std::size_t>(setup.length, held.size() - uploaded_);
    std::vector<unsigned char> out(held.begin() + static_cast<std::ptrdiff_t>(uploaded_),
                                   held.begin() + static_cast<std::ptrdiff_t>(uploaded_ + count));
    uploaded_ += count;
    // A short block ends the upload.
    state_ = count < setup.length ? kDfuIdle : kUploadIdle;
    return {false, std::move(out)};
}

ControlReply DfuBootloader::Status() {
    std::uint32_t pollMs = 0;
    if (state_ == kDnloadSync) {
        state_ = kDnloadIdle;  // the block is written by the time the host asks
    } else if (state_ == kManifestSync) {
        state_ = kManifest;
        pollMs = kManifestPollMs;
    } else if (state_ == kManifest) {
        state_ = kManifestWaitReset;
    }
    std::vector<unsigned char> out{status_};
    PutLe(out, pollMs, 3);
    out.push_back(state_);
    out.push_back(0);
    return {false, std::move(out)};
}

ControlReply DfuBootloader::Fail(std::uint8_t status) {
    state_ = kError;
    status_ = status;
    return {true, {}};
}

void DfuBootloader::BusReset() {
    std::optional<std::string> version;
    {
        std::lock_guard lock(mutex_);
        if (state_ != kManifestWaitReset && state_ != kManifest) {
            // The ROM stays in DFU mode; a download under way is lost.
            if (state_ != kDfuIdle) {
                state_ = kDfuIdle;
                status_ = 0;
                image_.clear();
            }
            return;
        }
        version = brokenBlock_ ? std::nullopt : FirmwareImageVersion(image_);
        state_ = kDfuIdle;
        image_.clear();
    }
    // The box starts what it holds now: the new firmware, or its old one if the image is broken.
    box_.CompleteArmDownload(version.value_or(box_.FirmwareVersion()));
}

std::optional<CompletedDownload> DfuBootloader::LastDownload() const {
    std::lock_guard lock(mutex_);
    return lastDownload_;
}

}  // namespace ZELKSim
