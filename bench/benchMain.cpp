// kvdiag-bench: every benchmark once, group by group, each group with the
// virtual token it needs plugged in; then the one table.
#include "benchToken.h"
#include "results.h"
#include "table.h"

#include <benchmark/benchmark.h>

#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Group {
    const char* benchmarks;  // a filter of benchmark names
    const char* profile;     // the bundled profile of its token; null: no token
    const char* changes = "";  // laid over the profile
};

constexpr Group kGroups[] = {
    {"^(one_command|kvdiag_run)/", "mirel3.json"},
    {"^(library|reconnect)/", "mirel3-flash.json", R"("flash": {"restartDelayMs": 1000})"},
    {"^mount/", nullptr},
    {"^journal/", nullptr},
};

void runGroup(const Group& group, Results& results)
{
    try {
        if (group.profile)
            plugToken(group.profile, group.changes);
        benchmark::RunSpecifiedBenchmarks(&results, group.benchmarks);
        unplugToken();
    } catch (const std::exception& e) {
        unplugToken();
        results.addFailure(std::string(group.benchmarks) + ": " + e.what());
    }
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv)
{
    // Repetitions of a tool figure and its bare counterpart alternate in a
    // random order, so that load from other programs falls on both alike.
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args{argv[0], interleave.data()};
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    std::cout << "cores: " << std::thread::hardware_concurrency() << ", load average before: " << loadAverage()
              << '\n';
    Results results;
    for (const Group& group : kGroups)
        runGroup(group, results);
    std::cout << "load average after: " << loadAverage() << "\n\n";
    printTable(results, std::cout);
    benchmark::Shutdown();
    return results.failures().empty() ? 0 : 1;
}
