#pragma once

#include <benchmark/benchmark.h>
#include <cstdio>
#include <unistd.h>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Prints the usual table, then each of our figures beside its reference measured
// in the same run, as a ratio.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    // ours and reference are benchmark names; perItem divides the time by a count.
    void compare(std::string ours, std::string reference, double perItem = 1.0)
    {
        m_pairs.push_back({std::move(ours), std::move(reference), perItem});
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                m_nanoseconds[nameOf(run)] = run.GetAdjustedRealTime()
                    * (run.time_unit == benchmark::kMicrosecond ? 1e3
                       : run.time_unit == benchmark::kMillisecond ? 1e6
                       : run.time_unit == benchmark::kSecond ? 1e9 : 1.0);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const Pair& pair : m_pairs) {
            const auto ours = m_nanoseconds.find(pair.ours);
            const auto reference = m_nanoseconds.find(pair.reference);
            if (ours == m_nanoseconds.end() || reference == m_nanoseconds.end())
                continue;
            std::printf("%s: %.2f us per item; %s: %.2f us per item; ratio %.2fx\n", pair.ours.c_str(),
                        ours->second / pair.perItem / 1e3, pair.reference.c_str(),
                        reference->second / pair.perItem / 1e3, ours->second / reference->second);
        }
    }

private:
    // The benchmark's name with its arguments, without settings such as min_time.
    static std::string nameOf(const Run& run)
    {
        return run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
    }

    struct Pair
    {
        std::string ours, reference;
        double perItem;
    };
    std::vector<Pair> m_pairs;
    std::map<std::string, double> m_nanoseconds;
};

// One of our figures and its reference, as RatioReporter::compare takes them.
struct Comparison
{
    std::string ours;
    std::string reference;
    double perItem = 1.0;
};

// Runs the benchmarks the command line asks for with the usual table, then the ratios.
inline void RunComparing(int* argc, char** argv, const std::vector<Comparison>& comparisons)
{
    benchmark::Initialize(argc, argv);
    RatioReporter reporter;
    for (const Comparison& comparison : comparisons)
        reporter.compare(comparison.ours, comparison.reference, comparison.perItem);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
