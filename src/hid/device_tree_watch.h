#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace ZELKUtil::Hid {

// What the hot-plug monitor listens to: nothing, the kernel's own events, or udev's events, which
// come once udev has processed the device (its database record exists by then).
enum class ChangeSource { None, Kernel, Udev };

// Tells the Linux backends how long what they read of the device tree stays true, so that a poll
// that finds nothing changed reads nothing again. The hot-plug monitor reports here what it listens
// to and every change it sees; an answer is kept only while no change has been seen since it was
// read, none waits unread on the monitor's socket, and it is younger than kFullRescanMs, so that a
// change no notification told of is still found by a full rescan. Without a monitor nothing is
// kept. One thread (the window's) uses it.
class DeviceTreeWatch {
  public:
    static constexpr std::int64_t kFullRescanMs = 10000;

    using NowMs = std::function<std::int64_t()>;
    using EventsPending = std::function<bool()>;

    // now: a monotonic clock in milliseconds (the steady clock when not given).
    explicit DeviceTreeWatch(NowMs now = {});

    // The monitor: what it listens to, and how to ask whether events wait unread on its socket.
    void Listening(ChangeSource source, EventsPending pending = {});
    // The monitor saw a change, or lost events: nothing read before stays kept.
    void Changed();

    // The stamp under which a reader may keep what it reads now, when the monitor's source is at
    // least `needed`; nullopt when nothing read now may be kept.
    struct Stamp {
        std::uint64_t generation = 0;
        std::int64_t readAtMs = 0;
    };
    std::optional<Stamp> Current(ChangeSource needed);
    // Whether what was read under the stamp is still true.
    bool StillTrue(const Stamp& stamp, ChangeSource needed);

  private:
    NowMs now_;
    ChangeSource source_ = ChangeSource::None;
    EventsPending pending_;
    std::uint64_t generation_ = 0;
};

// One answer read from the device tree, kept under a watch. Without a watch every Get reads.
template <typename T>
class KeptAnswer {
  public:
    // The kept answer while it is still true; otherwise read() now, kept when keepable(answer).
    // The reference stays valid until the next Get.
    template <typename Read, typename Keepable>
    const T& Get(DeviceTreeWatch* watch, ChangeSource needed, Read read, Keepable keepable) {
        if (watch != nullptr && stamp_ && watch->StillTrue(*stamp_, needed)) {
            return answer_;
        }
        stamp_ = watch != nullptr ? watch->Current(needed) : std::nullopt;
        answer_ = read();
        if (!keepable(answer_)) {
            stamp_.reset();
        }
        return answer_;
    }

  private:
    std::optional<DeviceTreeWatch::Stamp> stamp_;
    T answer_{};
};

}  // namespace ZELKUtil::Hid
