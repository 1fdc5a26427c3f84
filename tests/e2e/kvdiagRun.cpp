#include "kvdiagRun.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

constexpr char numberPlaceholder[] = "{number}";
constexpr char recordSeparator[] = "] - ";

fs::path binDir(const fs::path& root) { return root / "bin"; }
fs::path journalDir(const fs::path& root) { return root / "bin" / "logs"; }
fs::path workDir(const fs::path& root) { return root / "work"; }

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, const std::string& text)
{
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
}

// The one file in dir whose name begins with prefix, if any.
std::optional<fs::path> onlyFileStartingWith(const fs::path& dir, const std::string& prefix)
{
    std::optional<fs::path> found;
    if (!fs::is_directory(dir))
        return found;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind(prefix, 0) != 0)
            continue;
        if (found)
            throw std::runtime_error("more than one " + prefix + "* file in " + dir.string());
        found = entry.path();
    }
    return found;
}

// A log record reads "[time stamp] - message"; a line without the stamp is
// kept whole so that a comparison shows it.
std::vector<std::string> reportMessages(const std::string& logText)
{
    std::vector<std::string> messages;
    std::istringstream lines(logText);
    for (std::string line; std::getline(lines, line);) {
        const size_t stampEnd = line.find(recordSeparator);
        const bool stamped = !line.empty() && line.front() == '[' && stampEnd != std::string::npos;
        messages.push_back(stamped ? line.substr(stampEnd + std::size(recordSeparator) - 1) : line);
    }
    return messages;
}

size_t matchingPrefixLength(const std::vector<std::string>& report, size_t start, const std::vector<std::string>& block)
{
    size_t length = 0;
    while (length < block.size() && start + length < report.size() &&
           lineMatches(block[length], report[start + length]))
        ++length;
    return length;
}

std::string numbered(const std::vector<std::string>& lines, size_t from, size_t count)
{
    std::string text;
    for (size_t i = from; i < std::min(lines.size(), from + count); ++i)
        text += "  " + std::to_string(i + 1) + ": \"" + lines[i] + "\"\n";
    return text;
}

}  // namespace

std::string KvdiagRun::journalText() const
{
    if (!journalFile)
        throw std::runtime_error("kvdiag wrote no journal file");
    return readFile(*journalFile);
}

const std::string& KvdiagRun::verdict() const
{
    static const std::string none = "(no report)";
    return report.empty() ? none : report.back();
}

KvdiagSandbox::KvdiagSandbox()
{
    fs::create_directories(journalDir(dir_.path()));
    fs::create_directories(workDir(dir_.path()));
    const fs::path program = binDir(dir_.path()) / "kvdiag";
    fs::copy_file(KVDIAG_PATH, program);
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
}

fs::path KvdiagSandbox::profileOver(const std::string& bundledName, const std::string& members) const
{
    static int written = 0;
    const fs::path profile = dir_.path() / ("profile-" + std::to_string(++written) + ".json");
    std::string text = "{\"base\": \"" + (fs::path(PROFILES_DIR) / bundledName).string() + "\"";
    if (!members.empty())
        text += ",\n" + members;
    writeFile(profile, text + "}\n");
    return profile;
}

KvdiagRun KvdiagSandbox::run() const
{
    const fs::path root = dir_.path();
    fs::remove_all(workDir(root) / "logs");
    for (const auto& entry : fs::directory_iterator(journalDir(root)))
        fs::remove_all(entry.path());

    // A flash token's journal section is looked for during a minute when nothing mounts it.
    constexpr int kRunLimitSeconds = 120;
    const ProcessResult finished = runProcess((binDir(root) / "kvdiag").string(), {}, workDir(root), kRunLimitSeconds);
    KvdiagRun run;
    run.exitCode = finished.exitCode;
    run.console = finished.out + finished.err;
    if (const auto log = onlyFileStartingWith(workDir(root) / "logs", "log-"))
        run.report = reportMessages(readFile(*log));
    run.journalFile = onlyFileStartingWith(journalDir(root), "security_log-");
    return run;
}

bool lineMatches(const std::string& expected, const std::string& actual)
{
    const size_t placeholder = expected.find(numberPlaceholder);
    if (placeholder == std::string::npos)
        return expected == actual;
    if (actual.compare(0, placeholder, expected, 0, placeholder) != 0)
        return false;
    size_t digitsEnd = placeholder;
    while (digitsEnd < actual.size() && std::isdigit(static_cast<unsigned char>(actual[digitsEnd])))
        ++digitsEnd;
    return digitsEnd > placeholder &&
           lineMatches(expected.substr(placeholder + std::size(numberPlaceholder) - 1), actual.substr(digitsEnd));
}

testing::AssertionResult sameLines(const std::vector<std::string>& expected, const std::vector<std::string>& actual)
{
    const size_t common = std::min(expected.size(), actual.size());
    for (size_t i = 0; i < common; ++i)
        if (!lineMatches(expected[i], actual[i]))
            return testing::AssertionFailure() << "line " << i + 1 << ": expected \"" << expected[i] << "\", got \""
                                               << actual[i] << "\"";
    if (expected.size() == actual.size())
        return testing::AssertionSuccess();
    const bool missing = expected.size() > actual.size();
    return testing::AssertionFailure() << expected.size() << " lines expected, " << actual.size() << " found; "
                                       << (missing ? "first missing" : "first extra") << " line:\n"
                                       << numbered(missing ? expected : actual, common, 1);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

testing::AssertionResult hasBlock(const std::vector<std::string>& report, const std::vector<std::string>& block)
{
    size_t bestStart = 0, bestLength = 0;
    for (size_t start = 0; start < report.size(); ++start) {
        const size_t length = matchingPrefixLength(report, start, block);
        if (length == block.size())
            return testing::AssertionSuccess();
        if (length > bestLength)
            bestStart = start, bestLength = length;
    }
    auto failure = testing::AssertionFailure() << "expected these consecutive lines:\n"
                                               << numbered(block, 0, block.size());
    if (bestLength == 0)
        return failure << "no line of them starts a match; the report:\n" << numbered(report, 0, report.size());
    return failure << "closest report lines (" << bestLength << " matching):\n"
                   << numbered(report, bestStart, block.size() + 1);
}

std::string sha256OfFile(const fs::path& file)
{
    const std::string content = readFile(file);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(content.data(), content.size(), digest, &length, EVP_sha256(), nullptr))
        throw std::runtime_error("SHA-256 failed");
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0x0F];
    }
    return text;
}

std::vector<std::string> commandsReceived(const std::string& trace)
{
    std::vector<std::string> commands;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("> ", 0) == 0)
            commands.push_back(line.substr(2));
    return commands;
}
