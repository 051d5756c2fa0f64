#include "hid/device_tree_watch.h"

#include <chrono>

namespace ZELKUtil::Hid {
namespace {

std::int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

DeviceTreeWatch::DeviceTreeWatch(NowMs now) : now_(now ? std::move(now) : NowMs(SteadyNowMs)) {}

void DeviceTreeWatch::Listening(ChangeSource source, EventsPending pending) {
    source_ = source;
    pending_ = std::move(pending);
    ++generation_;
}

void DeviceTreeWatch::Changed() {
    ++generation_;
}

std::optional<DeviceTreeWatch::Stamp> DeviceTreeWatch::Current(ChangeSource needed) {
    if (source_ == ChangeSource::None || source_ < needed) {
        return std::nullopt;
    }
    // A change on its way to the window's thread already makes the tree differ from what was read.
    if (pending_ && pending_()) {
        ++generation_;
        return std::nullopt;
    }
    return Stamp{generation_, now_()};
}

bool DeviceTreeWatch::StillTrue(const Stamp& stamp, ChangeSource needed) {
    const auto now = Current(needed);
    return now && now->generation == stamp.generation &&
           now->readAtMs - stamp.readAtMs < kFullRescanMs && now->readAtMs >= stamp.readAtMs;
}

}  // namespace ZELKUtil::Hid
