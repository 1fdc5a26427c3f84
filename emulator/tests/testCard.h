#pragma once

#include "card.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kvtoken::test {

inline std::filesystem::path bundled(const std::string& name)
{
    return std::filesystem::path(PROFILES_DIR) / name;
}

inline Card bundledCard(const std::string& name)
{
    return Card(loadProfile(bundled(name)));
}

// Sends a command written in hex and gives back the answer in hex
// ("00 00 00 00 12 34 56 78 90 00"), as a trace shows it.
inline std::string send(Card& card, const std::string& command)
{
    return formatHex(card.transmit(parseHex(command)));
}

// A profile file of a test's own, removed with the object.
class TempProfile {
public:
    explicit TempProfile(const std::string& json)
    {
        static int count = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("kvtoken-test-" + std::to_string(getpid()) + "-" + std::to_string(++count) + ".json");
        std::ofstream(path_) << json;
    }
    ~TempProfile() { std::filesystem::remove(path_); }
    TempProfile(const TempProfile&) = delete;
    TempProfile& operator=(const TempProfile&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A card from a test profile laid over a bundled one.
inline Card cardOver(const std::string& base, const std::string& keys)
{
    const TempProfile profile("{\"base\": \"" + bundled(base).string() + "\", " + keys + "}");
    return Card(loadProfile(profile.path()));
}

}  // namespace kvtoken::test
