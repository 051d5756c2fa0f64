#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace ZELKBench {

// Removes the flag from the arguments; whether it was there.
bool TakeFlag(int& argc, char** argv, const char* flag);

// Google Benchmark's console table, and the figures kept for a summary: CPU and real time per
// iteration in microseconds, and the counters, by run name ("poll_warm/100").
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    struct Figures {
        double cpu_us = 0;
        double real_us = 0;
        std::map<std::string, double> counters;
    };

    // Colours only on a terminal.
    SummaryReporter();

    void ReportRuns(const std::vector<Run>& runs) override;
    const Figures* Find(const std::string& name) const;

    // The poll table of docs/performance.md, one row per tree size.
    void PrintPollSummary(std::ostream& out, const std::vector<int>& sizes) const;

  private:
    std::map<std::string, Figures> figures_;
};

}  // namespace ZELKBench
