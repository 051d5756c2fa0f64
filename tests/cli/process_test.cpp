// zelk-cli as a process among others: a reader of its output that goes away never ends it, two of
// them never work on the same box, and one killed in the middle of a road leaves its box's record.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "bench_runs/bench_world.h"
#include "cli/exit_codes.h"
#include "cli/history.h"
#include "cli/port_claim.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {
namespace {

// `zelk-cli --history FILE history` with its standard output on the descriptor: its exit status
// (-1 when a signal ended it) and what it said on its error stream.
std::pair<int, std::string> ShowHistoryInto(const std::string& history, int outFd) {
    int err[2];
    if (::pipe(err) != 0) {
        return {-2, "no pipe"};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execl(ZELK_CLI, "zelk-cli", "--history", history.c_str(), "history", nullptr);
        _exit(127);
    }
    ::close(err[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n = 0; (n = ::read(err[0], buffer, sizeof buffer)) > 0;) {
        said.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(err[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return {-2, "no child"};
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

// A reader that goes away, or a full disk, ends nothing by a signal; `history`, whose output is
// all it is for, says that its output was not written and exits non-zero.
TEST(ZelkCli, AHistoryWhoseOutputIsRefusedSaysSoInItsExitCode) {
    const Testing::TempPackage folder;
    const HistoryFile history(folder.Path("history.jsonl"));
    HistoryRecord record;
    record.time = "2026-12-07T01:37:36Z";
    record.port = "1-2";
    record.result = "upgraded";
    ASSERT_TRUE(history.Append(record));
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    ::close(out[0]);  // `zelk-cli history | head -0`: the reader is gone before the first line
    const auto [closedCode, closedSaid] = ShowHistoryInto(history.Path(), out[1]);
    ::close(out[1]);
    EXPECT_EQ(closedCode, kExitHistoryUnreadable) << closedSaid;
    // Its own words, once: not the note of the commands whose boxes' runs go on.
    EXPECT_EQ(closedSaid.find("standard output is closed"), std::string::npos) << closedSaid;
    EXPECT_NE(closedSaid.find("the history could not be written to standard output"),
              std::string::npos)
        << closedSaid;

    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    const auto [fullCode, fullSaid] = ShowHistoryInto(history.Path(), full);
    ::close(full);
    EXPECT_EQ(fullCode, kExitHistoryUnreadable) << fullSaid;
    EXPECT_NE(fullSaid.find("the history could not be written to standard output"),
              std::string::npos)
        << fullSaid;

    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(null, 0);
    const auto [nullCode, nullSaid] = ShowHistoryInto(history.Path(), null);
    ::close(null);
    EXPECT_EQ(nullCode, kExitOk) << nullSaid;
    EXPECT_NE(nullSaid.find("read the history " + history.Path()), std::string::npos) << nullSaid;
}

TEST(ZelkCli, APortIsClaimedByOneProcessAtATimeHoweverItsHolderEnds) {
    const std::string port = "9-" + std::to_string(::getpid()) + ".1";
    std::string why;
    std::unique_ptr<PortClaim> mine = ClaimPort(port, &why);
    ASSERT_TRUE(mine) << why;
    EXPECT_TRUE(why.empty()) << why;
    EXPECT_FALSE(ClaimPort(port, &why)) << "a second claim while the first is held";
    mine.reset();
    // A holder killed with its claim lets it go with it.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        std::string ignored;
        const std::unique_ptr<PortClaim> claim = ClaimPort(port, &ignored);
        if (::write(ready[1], claim ? "y" : "n", 1) != 1) {
            _exit(1);  // the parent's read then sees the pipe's end
        }
        ::pause();
        _exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 'y');
    EXPECT_FALSE(ClaimPort(port, &why)) << "held by another process";
    ::kill(holder, SIGKILL);
    ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
    EXPECT_TRUE(ClaimPort(port, &why));
    EXPECT_EQ(PortClaimName("3-1.2"), "zelk-port-3-1.2");
    EXPECT_EQ(PortClaimName("../x y"), "zelk-port-.._2Fx_20y");
}

// A package of one variant with an ARM image and dfu-util.
bool WriteArmPackage(const Testing::TempPackage& pkg) {
    ZELKSim::PackageContents package;
    package.version = "2.04";
    package.details = R"(<detail profile="ZELK Q750" vid="0x14E3" pid="0x0706" id="Q750")"
                      R"( name="ZELK Q750" LPC3131="q750.bin" A3P060="" A3PN060=""/>)";
    package.files = {"q750.bin"};
    package.tools = {"Tools/dfu-util"};
    return ZELKSim::WritePackage(pkg.Root(), package).ok();
}

TEST(ZelkCli, AKilledRunLeavesItsBoxsRecordUnfinished) {
    const Testing::TempPackage pkg;
    ASSERT_TRUE(WriteArmPackage(pkg));
    const HistoryFile history(pkg.Path("history.jsonl"));
    const pid_t run = ::fork();
    ASSERT_GE(run, 0);
    if (run == 0) {
        // A download that takes for ever: the run is in the middle of the box's road when killed.
        ZELKSim::BenchWorld bench(pkg.Root(), 50);
        bench.AddBox("1-1", {0x14E3, 0x0706, L"ZELK Q750"}, "2.01").SetSerial("000777");
        bench.tools.stepMs = 3600000;
        Options options;
        options.command = Command::Upgrade;
        options.all = true;
        options.history = history.Path();
        _exit(bench.Run(options));
    }
    // Killed once its box's record is on the disk, as power or a crash would end it.
    bool recorded = false;
    for (int look = 0; look < 1000 && !recorded; ++look) {
        ::usleep(10000);
        const auto read = history.ReadAll();
        recorded = read && !read.value().records.empty();
    }
    ::kill(run, SIGKILL);
    ASSERT_EQ(::waitpid(run, nullptr, 0), run);
    ASSERT_TRUE(recorded);
    const auto read = history.ReadAll();
    ASSERT_TRUE(read);
    ASSERT_EQ(read.value().records.size(), 1U);
    const HistoryRecord& box = read.value().records[0];
    EXPECT_EQ(box.result, kUnfinished);
    EXPECT_EQ(box.serial, "000777");
    EXPECT_EQ(box.versionBefore, "2.01");
    EXPECT_FALSE(box.id.empty());
    EXPECT_NE(FormatHistoryTable(read.value().records).find("unfinished"), std::string::npos);
}

// The file size limit (ulimit -f) reached by the history: zelk-cli itself, not a process made to
// look like it, says so and exits with the history's code; no signal ends it, no line is torn.
TEST(ZelkCli, AHistoryAtTheFileSizeLimitIsAnExitCodeNotADeath) {
    const Testing::TempPackage pkg;
    ASSERT_TRUE(WriteArmPackage(pkg));
    const std::string full(4000, 'x');
    pkg.Write("history.jsonl",
              R"({"time":"t","port":"1-1","result":"upgraded","log":")" + full + "\"}\n");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{4096 + 64, 4096 + 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl(ZELK_CLI, "zelk-cli", "--package", pkg.Root().c_str(), "--history",
                pkg.Path("history.jsonl").c_str(), "upgrade", "--all", nullptr);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), kExitHistory);
    const auto read = HistoryFile(pkg.Path("history.jsonl")).ReadAll();
    ASSERT_TRUE(read);
    EXPECT_EQ(read.value().records.size(), 1U);
    EXPECT_EQ(read.value().unreadable, 0U);
}

}  // namespace
}  // namespace ZELKUtil::Cli
