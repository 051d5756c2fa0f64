// zelk-cli's hidden window under Wine's window manager: a change the system broadcasts reaches the
// journal of a run on another thread, which then keeps nothing it read before.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include "cli/windows/device_change_window.h"

#include <gtest/gtest.h>

#include "hid/windows/device_notifications.h"

namespace ZELKUtil::Cli {
namespace {

TEST(DeviceChangeWindow, ABroadcastChangeEndsWhatEveryFollowingJournalKept) {
    const DeviceChangeWindow window;
    ASSERT_TRUE(window.Opened()) << window.Opened().error().Text();
    Hid::DeviceChangeJournal first;
    Hid::DeviceChangeJournal second;
    window.Follow(first);
    window.Follow(second);
    auto stampFirst = first.Current(Hid::kDeviceNotifications);
    const auto stampSecond = second.Current(Hid::kDeviceNotifications);
    ASSERT_TRUE(stampFirst && stampSecond);
    EXPECT_TRUE(first.StillTrue(*stampFirst, Hid::kDeviceNotifications));

    // What the system sends every top-level window when a device node changes; a message-only
    // window would not get it. The call returns once every window has handled it.
    DWORD_PTR answer = 0;
    ASSERT_NE(SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0,
                                  SMTO_ABORTIFHUNG, 5000, &answer),
              0);
    EXPECT_GE(window.Changes(), 1U);
    EXPECT_FALSE(first.StillTrue(*stampFirst, Hid::kDeviceNotifications));
    EXPECT_FALSE(second.StillTrue(*stampSecond, Hid::kDeviceNotifications));
    // What is read after the change is kept again, until the next one.
    stampFirst = first.Current(Hid::kDeviceNotifications);
    ASSERT_TRUE(stampFirst);
    EXPECT_TRUE(first.StillTrue(*stampFirst, Hid::kDeviceNotifications));
}

}  // namespace
}  // namespace ZELKUtil::Cli
