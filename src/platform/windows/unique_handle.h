#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace ZELKUtil {

// Owns one Win32 handle and closes it once: when dropped, reset or assigned over. Both null and
// INVALID_HANDLE_VALUE are "none", as the calls that make handles give one or the other. The
// close goes to CloseHandle, or to the given closer (a table of calls that tests answer), which
// must outlive the owner.
class UniqueHandle {
  public:
    using Closer = std::function<BOOL(HANDLE)>;

    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle, const Closer* closer = nullptr)
        : handle_(handle), closer_(closer) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(other.Release()), closer_(other.closer_) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
            closer_ = other.closer_;
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // For a call that writes a handle: whatever was owned is closed first.
    HANDLE* Out() {
        Reset();
        return &handle_;
    }
    HANDLE Release() { return std::exchange(handle_, nullptr); }
    // Closes now, for a caller to whom a failed close matters (a written file whose data may be
    // lost); true when there was nothing to close.
    bool Close() {
        if (!Valid()) {
            return true;
        }
        const HANDLE handle = Release();
        return (closer_ != nullptr ? (*closer_)(handle) : ::CloseHandle(handle)) != FALSE;
    }
    void Reset(HANDLE handle = nullptr) {
        // Nothing useful can be done about a failed close here: the handle is gone either way.
        (void)Close();
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
    const Closer* closer_ = nullptr;
};

}  // namespace ZELKUtil
