#pragma once

#include "fileSystem.h"
#include "flash.h"

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace kvtoken {

// "Answer a command that begins with these bytes with this answer", for
// `times` deliveries (no value: every time).
struct Override {
    Bytes command;
    Bytes response;
    std::optional<unsigned> times;
};

struct Sector {
    uint32_t rewrites = 0;
    bool unreliable = false;
};

// Everything one virtual token is made of; emulator/README.md documents
// the JSON keys each field comes from.
struct TokenProfile {
    uint64_t serial = 0;
    Bytes atr;
    Bytes identity;
    std::optional<std::string> modelName;
    std::optional<Bytes> hardwareData;
    std::optional<uint8_t> iteration;
    uint32_t freeMemory = 0;
    uint32_t changesCounter = 0;
    uint32_t usbConnectionCounter = 0;
    uint32_t firmwareChecksum = 0;
    bool firmwareDamaged = false;
    std::set<uint8_t> damagedSystemKeys;
    std::map<uint8_t, uint32_t> selfTestResults;
    std::unique_ptr<FileNode> adminPin;
    std::unique_ptr<FileNode> userPin;
    std::array<uint16_t, 6> errorCounters{};
    std::optional<Bytes> emergencyEvent;
    std::vector<Sector> sectors;
    std::unique_ptr<FileNode> root;
    std::optional<Bytes> securityJournal;
    std::optional<FlashProfile> flash;
    std::vector<Override> overrides;
};

// Reads a profile file, resolving its `base` chain; every chain ends on the
// built-in healthy Kelvane Mirel 3.0 (profiles/mirel3.json). Throws
// std::runtime_error naming the file and the key at fault.
TokenProfile loadProfile(const std::filesystem::path& file);

// Reads the text of a profile file; throws std::runtime_error.
using ProfileReader = std::function<std::string(const std::filesystem::path&)>;

// A profile from its text; `origin` names it in errors, a `base` is read
// with readBase, relative to `folder`. Throws std::runtime_error.
TokenProfile profileFromText(const std::string& text, const std::string& origin, const std::filesystem::path& folder,
                             const ProfileReader& readBase);

// The built-in healthy Kelvane Mirel 3.0.
TokenProfile defaultProfile();

// The ATR of a profile that names only its historical bytes: T=0 gives
// 3B 0K + bytes; T=1 gives 3B 8K 80 01 + bytes + TCK.
Bytes atrFromHistorical(const std::string& historical, int protocol);

}  // namespace kvtoken
