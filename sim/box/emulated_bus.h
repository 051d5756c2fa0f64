#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "box/emulated_box.h"

namespace ZELKSim {

// The USB bus of an emulated world: the boxes on their ports, in the order the system lists them
// (by port). The transport, the probe and the emulated tools find a box through it, as the real
// ones find a device on the system's bus. The boxes belong to whoever attached them.
class EmulatedBus {
  public:
    EmulatedBus() = default;
    // A bus with one box on it.
    explicit EmulatedBus(EmulatedBox& box) { Attach(box); }

    void Attach(EmulatedBox& box) {
        boxes_.push_back(&box);
        std::stable_sort(
            boxes_.begin(), boxes_.end(),
            [](const EmulatedBox* a, const EmulatedBox* b) { return a->Port() < b->Port(); });
    }
    const std::vector<EmulatedBox*>& Boxes() const { return boxes_; }
    // The boxes on the port, or all of them without one.
    std::vector<EmulatedBox*> On(const std::optional<std::string>& port) const {
        std::vector<EmulatedBox*> found;
        for (EmulatedBox* box : boxes_) {
            if (!port || box->Port() == *port) {
                found.push_back(box);
            }
        }
        return found;
    }
    EmulatedBox* OnPort(const std::string& port) const {
        for (EmulatedBox* box : boxes_) {
            if (box->Port() == port) {
                return box;
            }
        }
        return nullptr;
    }

  private:
    std::vector<EmulatedBox*> boxes_;
};

}  // namespace ZELKSim
