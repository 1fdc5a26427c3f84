#include "results.h"

#include <algorithm>

namespace {

std::string nameOf(const benchmark::BenchmarkReporter::Run& run)
{
    const auto& name = run.run_name;
    return name.args.empty() ? name.function_name : name.function_name + "/" + name.args;
}

}  // namespace

void Results::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        if (run.error_occurred)
            failures_.push_back(nameOf(run) + ": " + run.error_message);
        else if (run.run_type == Run::RT_Iteration)
            repetitions_[nameOf(run)].push_back(run);
    }
}

std::optional<double> Results::median(const std::string& name, const Value& value) const
{
    const auto found = repetitions_.find(name);
    if (found == repetitions_.end() || found->second.empty())
        return std::nullopt;
    std::vector<double> values;
    for (const Run& run : found->second)
        values.push_back(value(run));
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Results::secondsPerIteration(const Run& run)
{
    return run.real_accumulated_time / static_cast<double>(run.iterations);
}

Results::Value Results::counter(const std::string& name)
{
    return [name](const Run& run) {
        const auto found = run.counters.find(name);
        return found == run.counters.end() ? 0.0 : found->second.value;
    };
}
