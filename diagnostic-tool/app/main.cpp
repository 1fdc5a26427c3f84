#include "app/command.h"
#include "logging/logger.h"
#include "utils/console.h"
#include "utils/programPath.h"

#include <boost/program_options.hpp>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace po = boost::program_options;
using kelvane::utils::consoleOut;

namespace {

constexpr unsigned lineLength = 1024;
constexpr unsigned minDescriptionLength = 512;
// The Unix style plus slash-prefixed short options ("/h"); used only after
// the command word, where "/h" can no longer be mistaken for a command.
constexpr int secondPassStyle = 0x3FF;

struct CommandLine {
    po::options_description all{lineLength, minDescriptionLength};
    po::options_description general{"Общие параметры", lineLength, minDescriptionLength};
    po::positional_options_description positional;
    po::variables_map values;
};

void describeOptions(CommandLine& commandLine)
{
    commandLine.general.add_options()
        ("help,h", "Вывести справочную информацию.")
        ("log-prefix", po::value<std::string>()->default_value("log"), "Префикс файлов лога.");
    commandLine.all.add_options()
        ("command", po::value<std::string>(), "Команда для выполнения")
        ("subargs", po::value<std::vector<std::string>>(), "Остальные аргументы");
    commandLine.all.add(commandLine.general);
    commandLine.positional.add("command", 1).add("subargs", -1);
}

// The name the executable file really has, as the user sees it in a listing.
std::string executableName(const char* invokedAs)
{
    std::error_code error;
    const std::filesystem::path self = programPath(error);
    return (error ? std::filesystem::path(invokedAs) : self).filename().string();
}

void printUsage(const CommandLine& commandLine, const char* invokedAs)
{
    consoleOut << "\nИспользование:\n  " << executableName(invokedAs) << " [options]\n\n"
               << commandLine.general;
}

// Returns every token the first pass did not take as an option, positional ones included.
std::vector<std::string> parseFirstPass(CommandLine& commandLine, int argc, char** argv)
{
    const po::parsed_options parsed = po::command_line_parser(argc, argv)
                                          .options(commandLine.all)
                                          .positional(commandLine.positional)
                                          .allow_unregistered()
                                          .run();
    po::store(parsed, commandLine.values);
    po::notify(commandLine.values);
    return po::collect_unrecognized(parsed.options, po::include_positional);
}

std::vector<std::string> parseSecondPass(CommandLine& commandLine, const std::vector<std::string>& tokens)
{
    const po::parsed_options parsed = po::command_line_parser(tokens)
                                          .options(commandLine.general)
                                          .style(secondPassStyle)
                                          .allow_unregistered()
                                          .run();
    po::store(parsed, commandLine.values);
    po::notify(commandLine.values);
    return po::collect_unrecognized(parsed.options, po::include_positional);
}

void printUnrecognised(const CommandLine& commandLine, const std::vector<std::string>& tokens)
{
    consoleOut << "\n";
    if (!tokens.empty()) {
        consoleOut << "Нераспознанные опции:\n";
        for (size_t i = 0; i < tokens.size(); ++i)
            consoleOut << (i == 0 ? "" : ", ") << tokens[i];
        consoleOut << "\n";
    }
    consoleOut << "\n" << commandLine.general;
}

void configure(Command& command, const CommandLine& commandLine)
{
    try {
        command.configure(commandLine.values);
    } catch (const std::logic_error&) {
        // The options library reports a bad value so; show what is accepted.
        consoleOut << "\n" << commandLine.general;
        throw;
    }
}

int runTool(int argc, char** argv)
{
    CommandLine commandLine;
    describeOptions(commandLine);
    std::vector<std::string> tokens = parseFirstPass(commandLine, argc, argv);
    if (!commandLine.values.count("command") && commandLine.values.count("help")) {
        printUsage(commandLine, argv[0]);
        return 0;
    }

    logging::prepareLogDirectory();
    logging::initLogging(commandLine.values["log-prefix"].as<std::string>());

    const bool implicitCommand = argc < 2 || argv[1][0] == '-';
    const std::unique_ptr<Command> command =
        createCommand(implicitCommand ? "diagnose" : commandLine.values["command"].as<std::string>());
    if (auto own = command->options(lineLength))
        commandLine.general.add(*own);

    // An explicit command word is the first positional token: it is not an argument of the command.
    if (!implicitCommand)
        tokens.erase(tokens.begin());
    const std::vector<std::string> unrecognised = parseSecondPass(commandLine, tokens);
    if (commandLine.values.count("help") || !unrecognised.empty()) {
        printUnrecognised(commandLine, unrecognised);
        return 0;
    }

    configure(*command, commandLine);
    command->run();
    consoleOut << "Диагностика токена завершена. Лог-файл сохранён в папке запуска утилиты." << std::endl;
    kelvane::utils::pause();
    return 0;
}

int reportError(const std::exception& error)
{
    using kelvane::utils::restoreColor, kelvane::utils::setErrorColor;
    consoleOut << "Ошибка: " << setErrorColor << error.what() << restoreColor << std::endl;
    kelvane::utils::pause();
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    // Linux terminals take UTF-8 as it is: the console needs no preparation.
    try {
        return runTool(argc, argv);
    } catch (const std::exception& error) {
        return reportError(error);
    }
}
