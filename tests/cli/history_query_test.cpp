#include "cli/history_query.h"

#include <gtest/gtest.h>

namespace ZELKUtil::Cli {
namespace {

HistoryRecord At(const std::string& time, const std::string& station, const std::string& port,
                 const std::string& serial, const std::string& result = "upgraded") {
    HistoryRecord r;
    r.time = time;
    r.host = station;
    r.port = port;
    r.serial = serial;
    r.result = result;
    return r;
}

std::vector<std::string> Serials(const std::vector<HistoryRecord>& records) {
    std::vector<std::string> serials;
    serials.reserve(records.size());
    for (const HistoryRecord& r : records) {
        serials.push_back(r.serial);
    }
    return serials;
}

TEST(CliHistoryQuery, FiltersLetThroughOnlyWhatEachListNames) {
    const std::vector<HistoryRecord> records = {
        At("2026-12-07T23:59:59Z", "line-1", "1-1", "A"),
        At("2026-12-08T00:00:00Z", "line-1", "1-2", "B", "failed"),
        At("2026-12-08T10:00:00Z", "line-2", "1-1", "C", kUnfinished),
        At("not a time", "line-2", "1-1", "D"),
    };
    const auto shown = [&records](const HistoryFilter& filter) {
        std::vector<HistoryRecord> kept;
        std::copy_if(records.begin(), records.end(), std::back_inserter(kept),
                     [&filter](const HistoryRecord& r) { return filter.Lets(r); });
        return Serials(kept);
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(shown({}), (Names{"A", "B", "C", "D"}));
    EXPECT_EQ(shown({{"B", "C"}, {}, {}, {}}), (Names{"B", "C"}));
    EXPECT_EQ(shown({{}, {"1-1"}, {}, {}}), (Names{"A", "C", "D"}));
    EXPECT_EQ(shown({{}, {"1-1"}, {"upgraded", kUnfinished}, {}}), (Names{"A", "C", "D"}));
    // Ports and serials name boxes together, as the other commands take them.
    EXPECT_EQ(shown({{"B"}, {"1-1"}, {}, {}}), (Names{"A", "B", "C", "D"}));
    EXPECT_EQ(shown({{"B", "D"}, {"1-2"}, {}, {}}), (Names{"B", "D"}));
    EXPECT_EQ(shown({{}, {}, {"failed"}, {}}), (Names{"B"}));
    // From midnight on; a record whose time cannot be read is never "since" anything.
    EXPECT_EQ(shown({{}, {}, {}, ParseSinceTime("2026-12-08")}), (Names{"B", "C"}));
    EXPECT_EQ(shown({{"A", "C"}, {}, {}, ParseSinceTime("2026-12-08T00:00:01Z")}), (Names{"C"}));
    EXPECT_EQ(shown({{"A"}, {"1-2"}, {"failed"}, {}}), (Names{"B"}));

    // The options' words make the filter, or say what is wrong with them.
    const FilterOrWhy asked = HistoryFilterOf({"A"}, {"1-1"}, {"resumed"}, "2026-12-08");
    ASSERT_TRUE(asked.filter) << asked.why;
    EXPECT_EQ(asked.filter->since, ParseSinceTime("2026-12-08"));
    EXPECT_EQ(asked.filter->results, Names{"resumed"});
    const FilterOrWhy result = HistoryFilterOf({}, {}, {"upgraded", "passed"}, "");
    EXPECT_FALSE(result.filter);
    EXPECT_EQ(result.why,
              "--result passed: no record has that result; one of upgraded, up-to-date, failed, "
              "interrupted, stopped, left alone, unfinished, resumed");
    const FilterOrWhy since = HistoryFilterOf({}, {}, {}, "last week");
    EXPECT_FALSE(since.filter);
    EXPECT_NE(since.why.find("2026-12-08T10:00:00Z"), std::string::npos) << since.why;
}

TEST(CliHistoryQuery, SinceTakesAnIsoDateOrUtcDateTimeAndNothingElse) {
    EXPECT_EQ(ParseSinceTime("1970-01-02"), 86400);
    EXPECT_EQ(ParseSinceTime("2026-12-08T10:00:00Z"), ParseSinceTime("2026-12-08").value() + 36000);
    EXPECT_TRUE(ParseSinceTime("2024-02-29"));
    for (const char* wrong :
         {"", "yesterday", "2026-12-8", "2026-12-08T10:00:00", "2026-12-08 10:00:00Z",
          "2026-12-08T10:00Z", "2026-02-29", "2100-02-29", "2026-04-31", "2026-13-01",
          "2026-12-08T24:00:00Z", "2026-12-08T10:00:00+01:00"}) {
        EXPECT_FALSE(ParseSinceTime(wrong)) << wrong;
    }
}

TEST(CliHistoryQuery, StationsRecordsMergeByTimeKeepingEachFilesOrder) {
    const std::vector<HistoryRecord> line1 = {
        At("2026-12-08T10:00:00Z", "line-1", "1-1", "a1"),
        At("2026-12-08T10:05:00Z", "line-1", "1-1", "a2"),
        At("torn", "line-1", "1-2", "a3"),
        At("2026-12-08T10:05:00Z", "line-1", "1-2", "a4"),
    };
    const std::vector<HistoryRecord> line2 = {
        At("2026-12-08T09:59:00Z", "line-2", "1-1", "b1"),
        At("2026-12-08T10:05:00Z", "line-2", "1-1", "b2"),
        At("2026-12-08T11:00:00Z", "line-2", "1-1", "b3"),
    };
    const std::vector<HistoryRecord> merged = MergeByTime({line1, line2});
    EXPECT_EQ(Serials(merged),
              (std::vector<std::string>{"b1", "a1", "a2", "a3", "a4", "b2", "b3"}));
    EXPECT_EQ(merged[1].host, "line-1");
    EXPECT_EQ(merged[0].host, "line-2");
    EXPECT_EQ(Serials(MergeByTime({line1})), Serials(line1)) << "one file stays as it is";

    // The table names each record's station after its time.
    const std::string table = FormatHistoryTable({merged[0], merged[1]}, true);
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "time                  station  port  model  serial  before \u2192 after  result    "
              "duration (s)  reason");
    EXPECT_NE(table.find("2026-12-08T10:00:00Z  line-1   1-1"), std::string::npos) << table;
}

TEST(CliHistoryQuery, CsvQuotesAndNeverLetsACellBeAFormula) {
    HistoryRecord r = At("2026-12-08T10:00:00Z", "line, \"east\"", "1-1", "=HYPERLINK(\"x\")");
    std::tie(r.operatorName, r.model, r.versionBefore, r.versionAfter, r.reason) =
        std::tuple("@ann", "+Q750", "-2.01", "2.04", "the tool said:\r\nno\x1b[2J");
    r.durationMs = 17949;
    r.programVersion = "zelk-cli 1.2.3";
    r.images = {{"Images/arm.bin", std::string(64, 'a'), ""},
                {"Tools/FpgaProgrammer.ebn", "", "open: No such file"}};
    EXPECT_EQ(FormatHistoryCsv({r}),
              "time,station,operator,port,model,serial,version_before,version_after,result,"
              "duration_s,reason,program_version,images\n"
              "2026-12-08T10:00:00Z,\"line, \"\"east\"\"\",'@ann,1-1,'+Q750,"
              "\"'=HYPERLINK(\"\"x\"\")\",'-2.01,2.04,upgraded,17.9,the tool said:??no?[2J,"
              "zelk-cli 1.2.3,Images/arm.bin=" +
                  std::string(64, 'a') + "; Tools/FpgaProgrammer.ebn=(open: No such file)\n");
    EXPECT_EQ(FormatHistoryCsv({}).find('\n') + 1, FormatHistoryCsv({}).size())
        << "a header row even without records";
}

}  // namespace
}  // namespace ZELKUtil::Cli
