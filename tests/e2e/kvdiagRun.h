#pragma once

#include "process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What one run of kvdiag left behind.
struct KvdiagRun {
    int exitCode = -1;
    std::string console;              // what a user sees: standard output, then standard error
    std::vector<std::string> report;  // the report's messages, time stamps stripped; empty when no report was written
    std::optional<std::filesystem::path> journalFile;

    std::string journalText() const;
    const std::string& verdict() const;  // the report's last line
};

// A private copy of kvdiag: bin/kvdiag with bin/logs beside it, where the
// journal file goes, and work/ as its working directory, where the report
// goes. Tests never see each other's files.
class KvdiagSandbox {
public:
    KvdiagSandbox();

    // Writes a test profile laid over a bundled one: members are the JSON
    // object members that differ, e.g. R"("serial": 7)"; empty for none.
    std::filesystem::path profileOver(const std::string& bundledName, const std::string& members = "") const;
    // Runs kvdiag without arguments; files of an earlier run are removed first.
    KvdiagRun run() const;

private:
    TempDir dir_;
};

// Expected report lines may hold {number} for any decimal number (the USB
// connection counter grows at each power-on).
bool lineMatches(const std::string& expected, const std::string& actual);
// Whether the lines are equal in order and number, telling the first difference.
testing::AssertionResult sameLines(const std::vector<std::string>& expected, const std::vector<std::string>& actual);
// The text cut at every line end: joined with "\n" again it gives the text back.
std::vector<std::string> linesOf(const std::string& text);
// Whether block appears in the report as consecutive lines.
testing::AssertionResult hasBlock(const std::vector<std::string>& report, const std::vector<std::string>& block);

// SHA-256 of a file as 64 lower-case hexadecimal digits.
std::string sha256OfFile(const std::filesystem::path& file);

// The commands the virtual token received, from its --trace output ("> 80 7E 00 00 04").
std::vector<std::string> commandsReceived(const std::string& trace);

constexpr char verdictPassed[] = "-> Все проверки прошли успешно";
constexpr char verdictFailed[] = "-> При диагностике были выявлены ошибки";
constexpr char consoleHeader[] = "Утилита диагностики Kelvane v" KVDIAG_VERSION "\n"
                                 "Идет диагностика токена.\n"
                                 "Пожалуйста, подождите...\n";
constexpr char consoleClosing[] = "Диагностика токена завершена. Лог-файл сохранён в папке запуска утилиты.\n";
