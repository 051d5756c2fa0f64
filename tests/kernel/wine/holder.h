#pragma once

#include <windows.h>

#include <string>

namespace ZELKWineTest {

// Another process (this program again, with --hold) that holds a HID interface open, shared for
// reading and writing or not shared at all, until the object goes.
class Holder {
  public:
    Holder(const std::string& path, bool shared);
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    // Whether the other process has the interface open.
    bool Held() const { return held_; }
    std::string Failure() const { return failure_; }

  private:
    HANDLE heldEvent_ = nullptr;
    HANDLE releaseEvent_ = nullptr;
    HANDLE process_ = nullptr;
    bool held_ = false;
    std::string failure_;
};

// The other process's side: opens the interface, tells so through the named event
// "zelk-held-<pid>" and keeps it open until "zelk-release-<pid>" is set. 0 when it held it.
int HoldInterface(const std::string& path, bool shared);

}  // namespace ZELKWineTest
