#include "table.h"

#include "benchNames.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Row = std::array<std::string, 7>;
const Row kHeader{"item", "measure", "tool", "bare", "ratio", "goal", "verdict"};

constexpr double kMib = 1024.0 * 1024.0;
constexpr double kJournalMinMibPerSecond = 50;
constexpr double kJournalMaxGrowth = 20;  // 1 MiB against 64 KiB: 16 when linear

std::string number(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string verdict(bool met)
{
    return met ? "met" : "MISSED";
}

// A figure of the tool against the same figure of the bare client, held to
// a ratio.
struct Pair {
    const char* item;
    const char* measure;
    const char* tool;
    const char* bare;
    Results::Value value;
    double scale;  // to the unit shown
    int decimals;
    const char* unit;
    double maxRatio;  // 0: shown, not judged
};

Row pairRow(const Results& results, const Pair& pair)
{
    const auto tool = results.median(pair.tool, pair.value);
    const auto bare = results.median(pair.bare, pair.value);
    if (!tool || !bare)
        return {pair.item, pair.measure, tool ? "" : "not run", bare ? "" : "not run", "", "", "MISSED"};
    const auto shown = [&](double value) { return number(value * pair.scale, pair.decimals) + " " + pair.unit; };
    const double ratio = *bare > 0 ? *tool / *bare : 0;
    const bool judged = pair.maxRatio > 0;
    return {pair.item, pair.measure, shown(*tool), shown(*bare), number(ratio, 3),
            judged ? "<= " + number(pair.maxRatio, 2) : "", judged ? verdict(ratio <= pair.maxRatio) : ""};
}

std::vector<Pair> pairs()
{
    using namespace benchNames;
    const auto cpu = Results::counter(cpuCounter);
    const auto commands = Results::counter(commandsCounter);
    const auto time = Results::secondsPerIteration;
    return {
        {"1", "GET DATA serial, per command", oneCommandTool, oneCommandBare, time, 1e3, 3, "ms", 1.05},
        {"2", "kvdiag run, wall", kvdiagRunTool, kvdiagRunBare, time, 1e3, 1, "ms", 1.3},
        {"2", "kvdiag run, CPU", kvdiagRunTool, kvdiagRunBare, cpu, 1, 1, "ms", 0},
        {"2", "kvdiag --help (start, exit), wall", kvdiagStartOnly, kvdiagRunBare, time, 1e3, 1, "ms", 0},
        {"2", "kvdiag --help (start, exit), CPU", kvdiagStartOnly, kvdiagRunBare, cpu, 1, 1, "ms", 0},
        {"2", "commands the token got", kvdiagRunTool, kvdiagRunBare, commands, 1, 0, "", 0},
        {"3", "create_token + create_section_list", libraryOpenTool, libraryOpenBare, time, 1e3, 3, "ms", 1.2},
        {"3", "commands sent", libraryOpenTool, libraryOpenBare, commands, 1, 0, "", 0},
        {"2", "peak RSS", kvdiagRunTool, kvdiagRunBare, Results::counter(peakRssCounter), 1 / 1024.0, 1, "MiB", 0},
    };
}

// A figure of the tool held to an absolute bound.
struct Bound {
    const char* item;
    const char* measure;
    const char* name;
    Results::Value value;
    double scale;  // to the unit shown
    int decimals;
    const char* unit;
    double max;  // in the unit shown
};

std::vector<Bound> bounds()
{
    using namespace benchNames;
    const auto time = Results::secondsPerIteration;
    return {
        {"2", "kvdiag peak RSS", kvdiagRunTool, Results::counter(peakRssCounter), 1 / 1024.0, 1, "MiB", 10},
        {"4", "token back in its reader -> first command done", restartToFirstCommand, time, 1e3, 1, "ms", 50},
        {"4", "drive mounted -> mount-table wait sees it", mountToFound, time, 1e3, 1, "ms", 50},
    };
}

Row boundRow(const Results& results, const Bound& bound)
{
    const auto value = results.median(bound.name, bound.value);
    const std::string goal = "< " + number(bound.max, 0) + " " + bound.unit;
    if (!value)
        return {bound.item, bound.measure, "not run", "", "", goal, "MISSED"};
    const double shown = *value * bound.scale;
    return {bound.item, bound.measure, number(shown, bound.decimals) + " " + bound.unit, "", "", goal,
            verdict(shown < bound.max)};
}

// One journal operation at the three sizes: time and throughput, and at the
// largest size how the time grew from 64 KiB.
void addJournalRows(const Results& results, const char* operation, const std::string& name, std::vector<Row>& rows)
{
    struct Size { const char* text; int bytes; };
    constexpr std::array<Size, 3> sizes{{{"4 KiB", 4 << 10}, {"64 KiB", 64 << 10}, {"1 MiB", 1 << 20}}};
    std::optional<double> previous;
    for (const Size& size : sizes) {
        const std::string instance = name + "/" + std::to_string(size.bytes);
        const auto seconds = results.median(instance, Results::secondsPerIteration);
        const auto bytes = results.median(instance, Results::counter(benchNames::journalBytesCounter));
        const std::string measure = std::string("journal ") + operation + ", " + size.text;
        if (!seconds || !bytes) {
            rows.push_back({"5", measure, "not run", "", "", "", "MISSED"});
            continue;
        }
        const double mibPerSecond = *bytes / *seconds / kMib;
        bool met = mibPerSecond >= kJournalMinMibPerSecond;
        std::string growth;
        std::string goal = ">= 50 MiB/s";
        if (size.bytes == (1 << 20) && previous) {
            const double ratio = *seconds / *previous;
            growth = "x" + number(ratio, 1) + " of 64 KiB";
            goal += ", x <= " + number(kJournalMaxGrowth, 0);
            met = met && ratio <= kJournalMaxGrowth;
        }
        rows.push_back({"5", measure, number(*seconds * 1e3, 3) + " ms, " + number(mibPerSecond, 0) + " MiB/s", "",
                        growth, goal, verdict(met)});
        previous = seconds;
    }
}

void printRow(const Row& row, const std::array<size_t, 7>& widths, std::ostream& out)
{
    for (size_t column = 0; column < row.size(); ++column) {
        out << (column ? " | " : "") << row[column];
        if (column + 1 < row.size())
            out << std::string(widths[column] - row[column].size(), ' ');
    }
    out << '\n';
}

}  // namespace

void printTable(const Results& results, std::ostream& out)
{
    std::vector<Row> rows{kHeader};
    for (const Pair& pair : pairs())
        rows.push_back(pairRow(results, pair));
    for (const Bound& bound : bounds())
        rows.push_back(boundRow(results, bound));
    addJournalRows(results, "decode", benchNames::journalDecode, rows);
    addJournalRows(results, "decode + write file", benchNames::journalWrite, rows);
    addJournalRows(results, "SHA-256 of file", benchNames::journalHash, rows);

    std::array<size_t, 7> widths{};
    for (const Row& row : rows)
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    for (const Row& row : rows)
        printRow(row, widths, out);
    for (const auto& failure : results.failures())
        out << "failed: " << failure << '\n';
}
