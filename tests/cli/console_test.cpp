// zelk-cli itself, as a script starts it: a reader of its output that goes away never ends it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "cli/history.h"
#include "support/temp_package.h"

namespace ZELKUtil::Cli {
namespace {

TEST(ZelkCli, AReaderThatGoesAwayEndsNothingAndIsNoted) {
    const Testing::TempPackage folder;
    const HistoryFile history(folder.Path("history.jsonl"));
    HistoryRecord record;
    record.time = "2026-12-07T01:37:36Z";
    record.port = "1-2";
    record.result = "upgraded";
    ASSERT_TRUE(history.Append(record));

    int out[2];
    int err[2];
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(err), 0);
    ::close(out[0]);  // `zelk-cli history | head -0`: the reader is gone before the first line
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execl(ZELK_CLI, "zelk-cli", "--history", history.Path().c_str(), "history", nullptr);
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n = 0; (n = ::read(err[0], buffer, sizeof buffer)) > 0;) {
        said.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(err[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(said.find("standard output is closed"), std::string::npos) << said;
}

}  // namespace
}  // namespace ZELKUtil::Cli
