#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace ZELKSim {

// The actions a timeline has scheduled: taken earliest first, those due at the same time in the
// order they were scheduled. Not thread-safe: the clock that owns it guards it.
class ActionQueue {
  public:
    struct Action {
        std::int64_t atMs = 0;
        std::uint64_t sequence = 0;
        const void* owner = nullptr;
        std::function<void()> run;
    };

  private:
    // The actions are unordered; the earliest is searched for.
    template <typename Actions>
    static auto Earliest(Actions& actions) {
        return std::min_element(
            actions.begin(), actions.end(), [](const Action& a, const Action& b) {
                return a.atMs != b.atMs ? a.atMs < b.atMs : a.sequence < b.sequence;
            });
    }

  public:
    void Add(const void* owner, std::int64_t atMs, std::function<void()> run) {
        actions_.push_back(Action{atMs, nextSequence_++, owner, std::move(run)});
    }
    void Cancel(const void* owner) {
        std::erase_if(actions_, [owner](const Action& a) { return a.owner == owner; });
    }
    // When the earliest action is due; nullopt when none is scheduled.
    std::optional<std::int64_t> EarliestMs() const {
        const auto next = Earliest(actions_);
        return next == actions_.end() ? std::nullopt : std::optional<std::int64_t>(next->atMs);
    }
    // Removes the earliest action and hands it out; the queue must not be empty.
    Action TakeEarliest() {
        const auto next = Earliest(actions_);
        Action action = std::move(*next);
        actions_.erase(next);
        return action;
    }
    std::size_t Size() const { return actions_.size(); }

  private:
    std::vector<Action> actions_;
    std::uint64_t nextSequence_ = 0;
};

}  // namespace ZELKSim
