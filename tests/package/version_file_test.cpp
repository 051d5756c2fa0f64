#include "package/version_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "support/temp_package.h"

namespace ZELKUtil {
namespace {

TEST(VersionFile, FirstLineOnlyWithByteOrderMarksHonoured) {
    Testing::TempPackage pkg;
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"1.23\r\nsecond line\r\n", "1.23"},
        {"1.23 (Q750)\nx", "1.23 (Q750)"},
        {"1.23", "1.23"},
        {"\r\n1.23", ""},
        {"", ""},
        {"\xEF\xBB\xBF"
         "2.0\n",
         "2.0"},
        {std::string("\xFF\xFE"
                     "3\0.\0"
                     "1\0\r\0\n\0x\0",
                     14),
         "3.1"},
        {std::string("\xFE\xFF\0"
                     "4\0.\0"
                     "2\0\n",
                     10),
         "4.2"},
        {"caf\xC3\xA9\n", "caf\xC3\xA9"},
    };
    int i = 0;
    for (const auto& [content, expected] : cases) {
        const std::string name = "v" + std::to_string(i++) + ".txt";
        pkg.Write(name, content);
        EXPECT_EQ(ReadFirstLine(pkg.Path(name)), expected) << name;
    }
    EXPECT_EQ(ReadFirstLine(pkg.Path("missing.txt")), std::nullopt);
    // Nothing but a regular file is a version file: a folder, a FIFO (which would give an empty
    // version) or a device (64 KiB of NULs from /dev/zero).
    pkg.MakeFolder("folder.txt");
    pkg.Write("real.txt", "5.0\n");
#ifdef _WIN32
    for (const std::string& path : {pkg.Path("folder.txt"), std::string("NUL")}) {
        EXPECT_EQ(ReadFirstLine(path), std::nullopt) << path;
    }
#else
    ASSERT_EQ(::mkfifo(pkg.Path("fifo.txt").c_str(), 0644), 0);
    std::filesystem::create_symlink("/dev/zero", pkg.Path("zero.txt"));
    std::filesystem::create_symlink(pkg.Path("real.txt"), pkg.Path("link.txt"));
    for (const char* name : {"folder.txt", "fifo.txt", "zero.txt"}) {
        EXPECT_EQ(ReadFirstLine(pkg.Path(name)), std::nullopt) << name;
    }
    EXPECT_EQ(ReadFirstLine(pkg.Path("link.txt")), "5.0");
#endif
    EXPECT_EQ(ReadFirstLine(pkg.Path("real.txt")), "5.0");
}

}  // namespace
}  // namespace ZELKUtil
