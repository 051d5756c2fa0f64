#include "platform/log_follower.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_package.h"
#include "support/watchdog.h"

namespace ZELKUtil {
namespace {

// The next line, with a read failure as a test failure.
std::optional<std::string> Next(LogFollower& log, bool rest) {
    auto next = log.NextLine(rest);
    EXPECT_TRUE(next) << next.error().Text();
    return next ? std::move(next).value() : std::nullopt;
}

TEST(LogFollower, ReadsLinesAsTheyAreAppended) {
    Testing::TempPackage pkg;
    pkg.Write("Tools/dfulog.txt", "an earlier run's log\r\n");
    LogFollower log;
    const auto started = log.Start(pkg.Path("Tools/dfulog.txt"));
    ASSERT_TRUE(started) << started.error().Text();
    EXPECT_EQ(Next(log, false), std::nullopt);  // emptied

    std::ofstream writer(pkg.Path("Tools/dfulog.txt"), std::ios::app | std::ios::binary);
    writer << "first\r\nsecond\r" << std::flush;
    EXPECT_EQ(Next(log, false), "first");
    EXPECT_EQ(Next(log, false), "second");
    EXPECT_EQ(Next(log, false), std::nullopt);
    // The LF of a CR LF split across two writes is no empty line.
    writer << "\nthird\npart" << std::flush;
    EXPECT_EQ(Next(log, false), "third");
    EXPECT_EQ(Next(log, false), std::nullopt);  // not ended yet
    writer << "ial" << std::flush;
    EXPECT_EQ(Next(log, true), "partial");  // the rest, once the writer is done
    EXPECT_EQ(Next(log, true), std::nullopt);

    LogFollower bad;
    const auto failed = bad.Start(pkg.Path("missing/dfulog.txt"));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, ErrorKind::NotFound);
    EXPECT_NE(failed.error().Text().find(Testing::NoSuchFolderText()), std::string::npos)
        << failed.error().Text();
    EXPECT_FALSE(bad.NextLine(false));
}

TEST(LogFollower, AHugeLogIsSplitInTimeInProportionToItsSize) {
    Testing::TempPackage pkg;
    pkg.MakeFolder("Tools");
    LogFollower log;
    const auto started = log.Start(pkg.Path("Tools/dfulog.txt"));
    ASSERT_TRUE(started) << started.error().Text();
    const std::string line = "Device has received a block\r\n";
    std::string text;
    while (text.size() < std::size_t{16} * 1024 * 1024) {
        text += line;
    }
    pkg.Write("Tools/dfulog.txt", text);
    const Testing::Watchdog watchdog("splitting a 16 MB log");
    std::size_t lines = 0;
    while (const auto next = Next(log, true)) {
        lines += *next == "Device has received a block" ? 1 : 0;
    }
    EXPECT_EQ(lines, text.size() / line.size());
}

}  // namespace
}  // namespace ZELKUtil
