#include "cli/history.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <tuple>

#include "platform/files.h"
#include "support/temp_package.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/windows/text_conversion.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#endif

namespace ZELKUtil::Cli {
namespace {

HistoryRecord Record(const std::string& port, const std::string& serial, std::int64_t ms) {
    HistoryRecord r;
    std::tie(r.time, r.host, r.packageFolder, r.packageVersion, r.model, r.result) =
        std::tuple("2026-12-07T01:37:36Z", "bench-3", "/srv/pkg 2.04", "2.04", "Q750", "upgraded");
    std::tie(r.port, r.serial, r.versionBefore, r.versionAfter, r.durationMs) =
        std::tuple(port, serial, "2.01", "2.04", ms);
    r.log = "\r\nQ750 Version:      2.01\r\n\xc3\xa9\t#####\r\nUpgrade Complete";
    return r;
}

auto Fields(const HistoryRecord& r) {
    return std::tie(r.time, r.host, r.packageFolder, r.packageVersion, r.port, r.model, r.serial,
                    r.versionBefore, r.versionAfter, r.result, r.durationMs, r.log);
}

TEST(CliHistory, RecordsRoundTripUnderTheirNames) {
    const HistoryRecord record = Record("1-2", "000123", 83450);
    const std::string line = ToJsonLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    auto object = nlohmann::json::parse(line);
    EXPECT_EQ(object.at("log"), record.log);
    object.erase("log");
    EXPECT_EQ(object, nlohmann::json::parse(R"({"time":"2026-12-07T01:37:36Z","host":"bench-3",
        "package_folder":"/srv/pkg 2.04","package_version":"2.04","port":"1-2","model":"Q750",
        "serial":"000123","version_before":"2.01","version_after":"2.04","result":"upgraded",
        "duration_ms":83450})"));
    const std::optional<HistoryRecord> back = ParseHistoryLine(line);
    ASSERT_TRUE(back);
    EXPECT_TRUE(Fields(*back) == Fields(record));

    for (const char* wrong : {"", "[]", "{}", R"({"time":"t","port":"1"})",
                              R"({"time":"t","port":"1","result":"failed","serial":5})",
                              R"({"time":"t","port":"1","result":"failed","duration_ms":"5"})",
                              R"({"time":"t","port":"1","result":"failed","duration_ms":1.5})"}) {
        EXPECT_FALSE(ParseHistoryLine(wrong)) << wrong;
    }
}

TEST(CliHistory, TableIsAligned) {
    HistoryRecord failed = Record("3-10.2", "12", 500);
    failed.model = "Q750\xc3\xa9";
    failed.versionAfter = "";
    failed.result = "failed";
    EXPECT_EQ(FormatHistoryTable({Record("1-2", "000123", 83450), failed}),
              "time                  port    model  serial  before \u2192 after  result    "
              "duration (s)\n"
              "2026-12-07T01:37:36Z  1-2     Q750   000123  2.01 \u2192 2.04     upgraded  "
              "        83.5\n"
              "2026-12-07T01:37:36Z  3-10.2  Q750\xc3\xa9  12      2.01 \u2192 ?        failed    "
              "         0.5\n");
}

TEST(CliHistory, DefaultPathFromTheEnvironment) {
    std::map<std::string, std::string> vars;
    const auto env = [&vars](const std::string& name) { return vars[name]; };
    EXPECT_EQ(DefaultHistoryPath(env, false), "");
    EXPECT_EQ(DefaultHistoryPath(env, true), "");
    vars = {{"HOME", "/home/op"}, {"XDG_STATE_HOME", "relative/state"}};
    EXPECT_EQ(DefaultHistoryPath(env, false), "/home/op/.local/state/zelk/history.jsonl");
    vars["XDG_STATE_HOME"] = "/var/state/";
    EXPECT_EQ(DefaultHistoryPath(env, false), "/var/state/zelk/history.jsonl");
    vars = {{"LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local"}, {"HOME", "/home/op"}};
    EXPECT_EQ(DefaultHistoryPath(env, true), "C:\\Users\\op\\AppData\\Local\\ZELK\\history.jsonl");
}

TEST(CliHistory, FileIsMadeAppendedAndRead) {
    const Testing::TempPackage folder;
    const HistoryFile missing(folder.Path("none.jsonl"));
    ASSERT_TRUE(missing.ReadAll() && missing.ReadAll().value().empty());

    const HistoryFile file(folder.Path("state/zelk/history.jsonl"));
    // Twice: a folder and a file that are there already are fine.
    ASSERT_TRUE(file.CheckWritable()) << file.CheckWritable().error().Text();
    ASSERT_TRUE(file.CheckWritable());
    ASSERT_TRUE(file.Append(Record("1-2", "000123", 83450)));
    ASSERT_TRUE(Files::AppendToFile(file.Path(), "not a record\r\n\r\n"));
    ASSERT_TRUE(file.Append(Record("1-3", "000124", 1)));
    const Result<std::vector<HistoryRecord>> all = file.ReadAll();
    ASSERT_TRUE(all) << all.error().Text();
    ASSERT_EQ(all.value().size(), 2U);
    EXPECT_TRUE(Fields(all.value()[0]) == Fields(Record("1-2", "000123", 83450)));
    EXPECT_TRUE(Fields(all.value()[1]) == Fields(Record("1-3", "000124", 1)));
}

TEST(CliHistory, UnwritableHistoryIsFoundWithTheSystemsReason) {
    const Testing::TempPackage folder;
    folder.Write("plain", "a file, not a folder");
    const HistoryFile underFile(folder.Path("plain/history.jsonl"));
    const Result<void> checked = underFile.CheckWritable();
    ASSERT_FALSE(checked);
    EXPECT_NE(checked.error().operation.find("plain"), std::string::npos);
#ifdef _WIN32
    EXPECT_EQ(checked.error().reason, Windows::SystemErrorText(ERROR_ALREADY_EXISTS));
#else
    EXPECT_EQ(checked.error().reason, std::strerror(ENOTDIR));
#endif
    EXPECT_FALSE(underFile.Append(Record("1-2", "000123", 1)));
    EXPECT_FALSE(HistoryFile(folder.Root()).CheckWritable());

#ifndef _WIN32
    // Root may write anywhere, so only another user finds the read-only folder closed.
    if (::geteuid() != 0) {
        folder.MakeFolder("closed");
        ASSERT_EQ(::chmod(folder.Path("closed").c_str(), 0555), 0);
        const Result<void> closed =
            HistoryFile(folder.Path("closed/h/history.jsonl")).CheckWritable();
        ::chmod(folder.Path("closed").c_str(), 0755);
        ASSERT_FALSE(closed);
        EXPECT_EQ(closed.error().kind, ErrorKind::AccessDenied);
        EXPECT_EQ(closed.error().reason, std::strerror(EACCES));
    }
#endif
}

}  // namespace
}  // namespace ZELKUtil::Cli
