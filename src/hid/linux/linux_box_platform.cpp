#include "hid/linux/linux_box_platform.h"

namespace ZELKUtil::Hid {

LinuxBoxPlatform::LinuxBoxPlatform(const std::string& packageFolder, std::ostream* listing)
    : hid_("/sys", "/dev", {}, &journal_),
      probe_("/sys", "/run/udev", listing != nullptr ? *listing : discard_, &journal_),
      processes_(packageFolder) {}

std::unique_ptr<LinuxBoxPlatform> LinuxBoxPlatform::HearingWhenAsked(
    const std::string& packageFolder) {
    auto platform = std::make_unique<LinuxBoxPlatform>(packageFolder, nullptr);
    platform->events_.emplace("/run/udev");
    platform->events_->Follow(platform->journal_);
    return platform;
}

}  // namespace ZELKUtil::Hid
