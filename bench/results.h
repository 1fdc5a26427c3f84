#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Keeps every repetition of every benchmark instead of printing it, so that
// the table can set the tool's figure beside the bare one's after all ran.
class Results : public benchmark::BenchmarkReporter {
public:
    using Value = std::function<double(const Run&)>;

    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override;

    // The median over the repetitions of the benchmark (its name, "/" and its
    // argument if it has one); none when it did not run or failed.
    std::optional<double> median(const std::string& name, const Value& value) const;
    const std::vector<std::string>& failures() const { return failures_; }
    void addFailure(std::string text) { failures_.push_back(std::move(text)); }

    static double secondsPerIteration(const Run& run);
    static Value counter(const std::string& name);

private:
    std::map<std::string, std::vector<Run>> repetitions_;
    std::vector<std::string> failures_;
};
