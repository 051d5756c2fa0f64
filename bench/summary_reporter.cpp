#include "summary_reporter.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace ZELKBench {
namespace {

double ToMicroseconds(double value, benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kNanosecond:
            return value / 1e3;
        case benchmark::kMicrosecond:
            return value;
        case benchmark::kMillisecond:
            return value * 1e3;
        case benchmark::kSecond:
            return value * 1e6;
    }
    return value;
}

std::string Cell(const SummaryReporter::Figures* figures) {
    if (figures == nullptr) {
        return "-";
    }
    char text[32];
    if (figures->cpu_us >= 1000) {
        std::snprintf(text, sizeof text, "%.2f ms", figures->cpu_us / 1000);
    } else {
        std::snprintf(text, sizeof text, "%.1f µs", figures->cpu_us);
    }
    return text;
}

std::string Ratio(const SummaryReporter::Figures* a, const SummaryReporter::Figures* b) {
    if (a == nullptr || b == nullptr || b->cpu_us <= 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", a->cpu_us / b->cpu_us);
    return text;
}

}  // namespace

bool TakeFlag(int& argc, char** argv, const char* flag) {
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0) {
            found = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return found;
}

SummaryReporter::SummaryReporter()
    : benchmark::ConsoleReporter(::isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular) {}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred || run.run_type != Run::RT_Iteration) {
            continue;
        }
        Figures figures;
        figures.cpu_us = ToMicroseconds(run.GetAdjustedCPUTime(), run.time_unit);
        figures.real_us = ToMicroseconds(run.GetAdjustedRealTime(), run.time_unit);
        for (const auto& [name, counter] : run.counters) {
            figures.counters[name] = counter.value;
        }
        // Without the "/iterations:1" that a smoke run adds.
        figures_[run.run_name.function_name + "/" + run.run_name.args] = figures;
    }
    ConsoleReporter::ReportRuns(runs);
}

const SummaryReporter::Figures* SummaryReporter::Find(const std::string& name) const {
    const auto found = figures_.find(name);
    return found == figures_.end() ? nullptr : &found->second;
}

void SummaryReporter::PrintPollSummary(std::ostream& out, const std::vector<int>& sizes) const {
    out << "\nCPU per call (Markdown):\n\n"
           "| USB devices | poll, warm | first poll after a uevent | the same, a device seen "
           "before | first poll after lost events | poll, kernel events only | probe | probe, "
           "first sight | enumeration | enumeration, first sight | hidapi enumerate | warm poll "
           "÷ hidapi | first poll after a uevent ÷ hidapi |\n"
           "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const int size : sizes) {
        const std::string arg = "/" + std::to_string(size);
        const Figures* warm = Find("poll_warm" + arg);
        const Figures* cold = Find("poll_after_uevent" + arg);
        const Figures* hidapi = Find("hidapi_enumerate" + arg);
        out << "| " << size << " | " << Cell(warm) << " | " << Cell(cold) << " | "
            << Cell(Find("poll_after_uevent_seen_device" + arg)) << " | "
            << Cell(Find("poll_after_lost_events" + arg)) << " | "
            << Cell(Find("poll_kernel_events_only" + arg)) << " | " << Cell(Find("probe" + arg))
            << " | " << Cell(Find("probe_first_sight" + arg)) << " | "
            << Cell(Find("enumerate" + arg)) << " | " << Cell(Find("enumerate_first_sight" + arg))
            << " | " << Cell(hidapi) << " | " << Ratio(warm, hidapi) << " | " << Ratio(cold, hidapi)
            << " |\n";
    }
    const Figures* small = Find("small_read/" + std::to_string(sizes.back()));
    const auto per_device = [&](const std::string& name) {
        const Figures* low = Find(name + "/" + std::to_string(sizes[sizes.size() - 2]));
        const Figures* high = Find(name + "/" + std::to_string(sizes.back()));
        return low == nullptr || high == nullptr
                   ? 0.0
                   : (high->cpu_us - low->cpu_us) / (sizes.back() - sizes[sizes.size() - 2]);
    };
    if (small != nullptr) {
        char text[240];
        std::snprintf(text, sizeof text,
                      "\nProbe cost per extra USB device of another vendor: %.2f µs (first "
                      "sight: %.2f µs); one small read (open, read, close of idVendor): %.2f µs.\n",
                      per_device("probe"), per_device("probe_first_sight"), small->cpu_us);
        out << text;
    }
}

}  // namespace ZELKBench
