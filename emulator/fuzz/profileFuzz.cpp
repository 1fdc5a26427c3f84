// libFuzzer target: any text given as a profile gives a profile or a
// std::runtime_error that says what is wrong; anything else (a crash, a
// sanitizer report, another exception) is a finding.
#include "profile.h"

#include <fstream>
#include <map>
#include <stdexcept>

namespace {

// Bases come from the bundled profiles, by file name, so that a run reads
// nothing else from the disk (a base may name any path, /dev/stdin too).
std::string bundledBase(const std::filesystem::path& file)
{
    static const std::map<std::string, std::string> bundled = [] {
        std::map<std::string, std::string> texts;
        for (const auto& entry : std::filesystem::directory_iterator(PROFILES_DIR)) {
            std::ifstream in(entry.path());
            texts[entry.path().filename().string()] = {std::istreambuf_iterator<char>(in), {}};
        }
        return texts;
    }();
    const auto found = bundled.find(file.filename().string());
    if (found == bundled.end())
        throw std::runtime_error(file.string() + ": cannot be read");
    return found->second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        kvtoken::profileFromText(text, "fuzz.json", "profiles", bundledBase);
    } catch (const std::runtime_error&) {
        // the answer to a broken profile
    }
    return 0;
}
