// Runs every benchmark and then prints, for each benchmark "X/args" that has a partner "X_Baseline/args",
// how many times slower X is than its baseline in this same run.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && (run.run_type == Run::RT_Iteration || run.aggregate_name == "median"))
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }

    void printRatios() const {
        const std::string marker = "_Baseline";
        for (const auto& [name, time] : times_) {
            const auto at = name.find(marker);
            if (at == std::string::npos) continue;
            const std::string subject = name.substr(0, at) + name.substr(at + marker.size());
            const auto found = times_.find(subject);
            if (found == times_.end() || time <= 0) continue;
            std::printf("ratio %-40s %6.2fx its baseline\n", subject.c_str(), found->second / time);
        }
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
