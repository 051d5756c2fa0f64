#include "platform/log_follower.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_package.h"
#include "support/watchdog.h"

namespace ZELKUtil {
namespace {

TEST(LogFollower, ReadsLinesAsTheyAreAppended) {
    Testing::TempPackage pkg;
    pkg.Write("Tools/dfulog.txt", "an earlier run's log\r\n");
    LogFollower log;
    std::string error;
    ASSERT_TRUE(log.Start(pkg.Path("Tools/dfulog.txt"), &error)) << error;
    EXPECT_EQ(log.NextLine(false, &error), std::nullopt);  // emptied

    std::ofstream writer(pkg.Path("Tools/dfulog.txt"), std::ios::app | std::ios::binary);
    writer << "first\r\nsecond\r" << std::flush;
    EXPECT_EQ(log.NextLine(false, &error), "first");
    EXPECT_EQ(log.NextLine(false, &error), "second");
    EXPECT_EQ(log.NextLine(false, &error), std::nullopt);
    // The LF of a CR LF split across two writes is no empty line.
    writer << "\nthird\npart" << std::flush;
    EXPECT_EQ(log.NextLine(false, &error), "third");
    EXPECT_EQ(log.NextLine(false, &error), std::nullopt);  // not ended yet
    writer << "ial" << std::flush;
    EXPECT_EQ(log.NextLine(true, &error), "partial");  // the rest, once the writer is done
    EXPECT_EQ(log.NextLine(true, &error), std::nullopt);
    EXPECT_TRUE(error.empty());

    LogFollower bad;
    EXPECT_FALSE(bad.Start(pkg.Path("missing/dfulog.txt"), &error));
    EXPECT_NE(error.find(Testing::NoSuchFolderText()), std::string::npos) << error;
}

TEST(LogFollower, AHugeLogIsSplitInTimeInProportionToItsSize) {
    Testing::TempPackage pkg;
    pkg.MakeFolder("Tools");
    LogFollower log;
    std::string error;
    ASSERT_TRUE(log.Start(pkg.Path("Tools/dfulog.txt"), &error)) << error;
    const std::string line = "Device has received a block\r\n";
    std::string text;
    while (text.size() < std::size_t{16} * 1024 * 1024) {
        text += line;
    }
    pkg.Write("Tools/dfulog.txt", text);
    const Testing::Watchdog watchdog("splitting a 16 MB log");
    std::size_t lines = 0;
    while (const auto next = log.NextLine(true, &error)) {
        lines += *next == "Device has received a block" ? 1 : 0;
    }
    EXPECT_EQ(lines, text.size() / line.size());
}

}  // namespace
}  // namespace ZELKUtil
