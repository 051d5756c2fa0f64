#include "cli/history.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <tuple>

#include "platform/files.h"
#include "support/temp_package.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/windows/text_conversion.h"
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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
    failed.reason = "no box on this port";
    EXPECT_EQ(FormatHistoryTable({Record("1-2", "000123", 83450), failed}),
              "time                  port    model  serial  before \u2192 after  result    "
              "duration (s)  reason\n"
              "2026-12-07T01:37:36Z  1-2     Q750   000123  2.01 \u2192 2.04     upgraded  "
              "        83.5\n"
              "2026-12-07T01:37:36Z  3-10.2  Q750\xc3\xa9  12      2.01 \u2192 ?        failed    "
              "         0.5  no box on this port\n");
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

// Appends text as a crash or a full disk leaves it: no line end.
void AppendTorn(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::app | std::ios::binary) << text;
}

TEST(CliHistory, ABoxsRecordIsCompletedInItsPlaceAndATornLineTakesNoRecordWithIt) {
    const Testing::TempPackage folder;
    const HistoryFile missing(folder.Path("none.jsonl"));
    ASSERT_TRUE(missing.ReadAll() && missing.ReadAll().value().records.empty());

    const HistoryFile file(folder.Path("state/zelk/history.jsonl"));
    // Twice: a folder and a file that are there already are fine.
    const RunRecord run{"2026-12-07T01:37:30Z", "bench-3", "/srv/pkg", "2.04", "run-1"};
    ASSERT_TRUE(file.Begin(run)) << file.Begin(run).error().Text();
    HistoryRecord first = Record("1-2", "000123", 0);
    std::tie(first.id, first.result, first.versionAfter, first.log) =
        std::tuple("run-1/1-2/1", kUnfinished, "", "");
    HistoryRecord second = first;
    std::tie(second.id, second.port, second.serial) = std::tuple("run-1/1-3/2", "1-3", "000124");
    ASSERT_TRUE(file.Append(first));
    ASSERT_TRUE(file.Append(second));
    // A killed writer left half a line; an editor left a line that is no record and blank lines.
    AppendTorn(file.Path(), R"({"time":"2026-12-07T01:38:00Z","port":"1-)");
    HistoryRecord done = Record("1-2", "000123", 83450);
    done.id = first.id;
    ASSERT_TRUE(file.Append(done));
    AppendTorn(file.Path(), "not a record\r\n\r\n");
    ASSERT_TRUE(file.Append(Record("1-4", "000125", 1)));
    ASSERT_TRUE(file.Begin(run));

    const Result<HistoryContents> all = file.ReadAll();
    ASSERT_TRUE(all) << all.error().Text();
    const std::vector<HistoryRecord>& records = all.value().records;
    ASSERT_EQ(records.size(), 3U);
    EXPECT_TRUE(Fields(records[0]) == Fields(done)) << "the last record of a box's run wins";
    EXPECT_EQ(records[0].id, first.id);
    EXPECT_EQ(records[1].result, kUnfinished) << "a road that never ended shows as unfinished";
    EXPECT_EQ(records[1].serial, "000124");
    EXPECT_TRUE(Fields(records[2]) == Fields(Record("1-4", "000125", 1)));
    EXPECT_EQ(all.value().unreadable, 2U) << "the torn line and the foreign one";
}

TEST(CliHistory, AuditFieldsRoundTripAndOldRecordsAndRunRecordsReadAsBefore) {
    HistoryRecord audited = Record("1-2", "000123", 83450);
    std::tie(audited.operatorName, audited.programVersion) = std::tuple("ann", "zelk-cli 1.2.3");
    audited.images = {{"Images/arm.bin", std::string(64, 'e'), ""},
                      {"Tools/FpgaProgrammer.ebn", "", "read Tools/FpgaProgrammer.ebn: gone"}};
    const std::string line = ToJsonLine(audited);
    const auto object = nlohmann::json::parse(line);
    EXPECT_EQ(object.at("operator"), "ann");
    EXPECT_EQ(object.at("program_version"), "zelk-cli 1.2.3");
    EXPECT_EQ(object.at("images"), nlohmann::json::parse(R"([
        {"file":"Images/arm.bin","sha256":"eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee"},
        {"file":"Tools/FpgaProgrammer.ebn","error":"read Tools/FpgaProgrammer.ebn: gone"}])"));
    const std::optional<HistoryRecord> back = ParseHistoryLine(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->operatorName, "ann");
    EXPECT_EQ(back->programVersion, "zelk-cli 1.2.3");
    EXPECT_EQ(back->images, audited.images);
    // Without an operator or images, nothing of them is written.
    const auto plain = nlohmann::json::parse(ToJsonLine(Record("1-2", "000123", 1)));
    EXPECT_FALSE(plain.contains("operator") || plain.contains("images") ||
                 plain.contains("program_version"));
    for (const char* wrong :
         {R"({"time":"t","port":"1","result":"failed","images":"a"})",
          R"({"time":"t","port":"1","result":"failed","images":[{"sha256":"0"}]})",
          R"({"time":"t","port":"1","result":"failed","images":[{"file":1}]})"}) {
        EXPECT_FALSE(ParseHistoryLine(wrong)) << wrong;
    }

    // A history an older version wrote, then this one's run and closing records around a box.
    const Testing::TempPackage folder;
    const HistoryFile file(folder.Path("history.jsonl"));
    AppendTorn(file.Path(),
               R"({"time":"2026-12-01T08:00:00Z","host":"bench-3","package_folder":"/srv/pkg",)"
               R"("package_version":"2.03","run":"old"})"
               "\n"
               R"({"time":"2026-12-01T08:00:01Z","host":"bench-3","package_folder":"/srv/pkg",)"
               R"("package_version":"2.03","port":"1-1","model":"Q750","serial":"9",)"
               R"("version_before":"2.01","version_after":"2.03","result":"upgraded",)"
               R"("duration_ms":5,"log":""})"
               "\n");
    RunRecord run{"2026-12-07T01:37:30Z", "line-1", "/srv/pkg", "2.04", "run-1"};
    std::tie(run.operatorName, run.programVersion) = std::tuple("ann", "zelk-cli 1.2.3");
    ASSERT_TRUE(file.Begin(run));
    ASSERT_TRUE(file.Append(audited));
    const RunEndRecord end{"2026-12-07T01:39:00Z", "line-1", "run-1", 1, 90123};
    ASSERT_TRUE(Files::AppendLine(file.Path(), ToJsonLine(end)));
    EXPECT_EQ(nlohmann::json::parse(ToJsonLine(end)),
              nlohmann::json::parse(R"({"time":"2026-12-07T01:39:00Z","host":"line-1",
                  "run":"run-1","exit_code":1,"wall_ms":90123})"));
    const Result<HistoryContents> all = file.ReadAll();
    ASSERT_TRUE(all);
    EXPECT_EQ(all.value().unreadable, 0U) << "run records are no unreadable lines";
    ASSERT_EQ(all.value().records.size(), 2U);
    EXPECT_EQ(all.value().records[0].host, "bench-3");
    EXPECT_TRUE(all.value().records[0].operatorName.empty() &&
                all.value().records[0].images.empty());
    EXPECT_EQ(all.value().records[1].images, audited.images);
}

TEST(CliHistory, OnlyARegularFileIsWrittenAndAWriteCutShortIsAnError) {
    const Testing::TempPackage folder;
    const RunRecord run{"t", "h", "p", "2.04", "r"};
#ifdef _WIN32
    const Result<void> device = HistoryFile("NUL").Begin(run);
    ASSERT_FALSE(device);
    EXPECT_EQ(device.error().kind, ErrorKind::NotAFile);
#else
    // A FIFO would hold an open for writing until a reader came: refused at once instead.
    const std::string fifo = folder.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Result<void> refused = HistoryFile(fifo).Begin(run);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ErrorKind::NotAFile);

    // A disk that fills in the middle of a record: the write is an error, what got in is taken
    // back, and the next record stands whole after the last.
    const HistoryFile file(folder.Path("history.jsonl"));
    ASSERT_TRUE(file.Begin(run));
    const off_t before = [&file] {
        struct stat st {};
        ::stat(file.Path().c_str(), &st);
        return st.st_size;
    }();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A file size limit lets only part of the record in, as a full disk does (zelk-cli
        // ignores the limit's signal, as this child does).
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(before + 300), static_cast<rlim_t>(before + 300)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        _exit(file.Append(Record("1-2", "000123", 1)) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "the cut write is an error";
    ASSERT_TRUE(file.Append(Record("1-3", "000124", 2)));
    const Result<HistoryContents> all = file.ReadAll();
    ASSERT_TRUE(all);
    ASSERT_EQ(all.value().records.size(), 1U);
    EXPECT_EQ(all.value().records[0].port, "1-3");
    EXPECT_EQ(all.value().unreadable, 0U);
#endif
}

TEST(CliHistory, UnwritableHistoryIsFoundWithTheSystemsReason) {
    const Testing::TempPackage folder;
    folder.Write("plain", "a file, not a folder");
    const HistoryFile underFile(folder.Path("plain/history.jsonl"));
    const RunRecord run{"t", "h", "p", "2.04", "r"};
    const Result<void> checked = underFile.Begin(run);
    ASSERT_FALSE(checked);
    EXPECT_NE(checked.error().operation.find("plain"), std::string::npos);
#ifdef _WIN32
    EXPECT_EQ(checked.error().reason, Windows::SystemErrorText(ERROR_ALREADY_EXISTS));
#else
    EXPECT_EQ(checked.error().reason, std::strerror(ENOTDIR));
#endif
    EXPECT_FALSE(underFile.Append(Record("1-2", "000123", 1)));
    EXPECT_FALSE(HistoryFile(folder.Root()).Begin(run));

#ifndef _WIN32
    // Root may write anywhere, so only another user finds the read-only folder closed.
    if (::geteuid() != 0) {
        folder.MakeFolder("closed");
        ASSERT_EQ(::chmod(folder.Path("closed").c_str(), 0555), 0);
        const Result<void> closed = HistoryFile(folder.Path("closed/h/history.jsonl")).Begin(run);
        ::chmod(folder.Path("closed").c_str(), 0755);
        ASSERT_FALSE(closed);
        EXPECT_EQ(closed.error().kind, ErrorKind::AccessDenied);
        EXPECT_EQ(closed.error().reason, std::strerror(EACCES));
    }
#endif
}

}  // namespace
}  // namespace ZELKUtil::Cli
