#include "profile.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <limits>
#include <utility>
#include <stdexcept>

namespace kvtoken {

// The text of profiles/mirel3.json, compiled in (defaultProfileText.cpp).
extern const char defaultProfileText[];

namespace {

using Json = nlohmann::ordered_json;

// A base chain longer than this is a loop of profiles naming each other.
constexpr int maxBaseDepth = 16;

struct ProfileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs one key's conversion so that any failure names the key.
template <typename Convert>
auto convertKey(const std::string& key, Convert convert)
{
    try {
        return convert();
    } catch (const ProfileError&) {
        throw;
    } catch (const std::exception& e) {
        throw ProfileError("key '" + key + "': " + e.what());
    }
}

// A JSON number as T: a whole number within T's range. (Converting it with
// get<T> would wrap a negative or large value, and turn a float beyond the
// range into undefined behaviour.)
template <typename T>
T integer(const Json& value)
{
    if (value.is_number_unsigned() && std::in_range<T>(value.get<uint64_t>()))
        return static_cast<T>(value.get<uint64_t>());
    if (value.is_number_integer() && !value.is_number_unsigned() && std::in_range<T>(value.get<int64_t>()))
        return static_cast<T>(value.get<int64_t>());
    throw std::invalid_argument(value.dump() + " is not a whole number from " +
                                std::to_string(std::numeric_limits<T>::min()) + " to " +
                                std::to_string(std::numeric_limits<T>::max()));
}

// The integer under `key`, or `fallback` when the object does not have it.
template <typename T>
T integerOr(const Json& object, const std::string& key, T fallback)
{
    if (!object.is_object())
        throw std::invalid_argument("not an object: " + object.dump());
    return object.contains(key) ? integer<T>(object[key]) : fallback;
}

const Json& required(const Json& profile, const std::string& key)
{
    if (!profile.contains(key) || profile[key].is_null())
        throw ProfileError("missing key '" + key + "'");
    return profile[key];
}

template <typename T>
T number(const Json& profile, const std::string& key)
{
    return convertKey(key, [&] { return integer<T>(required(profile, key)); });
}

Bytes hex(const Json& profile, const std::string& key)
{
    return convertKey(key, [&] { return parseHex(required(profile, key).get<std::string>()); });
}

std::optional<Bytes> optionalHex(const Json& profile, const std::string& key)
{
    if (!profile.contains(key) || profile[key].is_null())
        return std::nullopt;
    return hex(profile, key);
}

// Data the token sends whole in one short answer.
constexpr size_t maxAnswer = 256;
constexpr char tooLong[] = "at most 256 bytes fit one answer";

std::optional<Bytes> answerHex(const Json& profile, const std::string& key)
{
    auto data = optionalHex(profile, key);
    if (data && data->size() > maxAnswer)
        throw ProfileError("key '" + key + "': " + tooLong);
    return data;
}

uint16_t fileId(const std::string& text)
{
    const Bytes id = parseHex(text);
    if (id.size() != 2)
        throw std::invalid_argument("file identifier '" + text + "' is not 4 hex digits");
    return static_cast<uint16_t>(id[0] << 8 | id[1]);
}

uint8_t hexByte(const std::string& text)
{
    const Bytes value = parseHex(text);
    if (value.size() != 1)
        throw std::invalid_argument("'" + text + "' is not one hex byte");
    return value[0];
}

// Objects without stored content get a few bytes made from their identifier,
// so that every object has something of its own to checksum.
Bytes contentFor(uint16_t id)
{
    Bytes content{static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    for (uint8_t i = 0; i < 14; ++i)
        content.push_back(static_cast<uint8_t>(id * 31 + i * 73 + 5));
    return content;
}

// The reference is taken from the content as written; a damaged object's
// content has since changed under it.
void storeContent(FileNode& node, Bytes content, bool damaged)
{
    node.content = std::move(content);
    node.reference = crc32(node.content);
    if (damaged)
        node.content.front() ^= 0xFF;
}

Bytes textBytes(const std::string& text)
{
    if (text.empty() || text.size() > 249)
        throw std::invalid_argument("a PIN has 1 to 249 characters");
    return Bytes(text.begin(), text.end());
}

std::unique_ptr<FileNode> objectFrom(uint16_t id, const Json& entry)
{
    auto node = std::make_unique<FileNode>();
    node->id = id;
    const Json attributes = entry.is_string() ? Json{{"type", entry}} : entry;
    const auto type = attributes.value("type", std::string("rsf"));
    if (type == "rsf")
        node->kind = FileKind::Rsf;
    else if (type == "ef")
        node->kind = FileKind::Ef;
    else
        throw std::invalid_argument("unknown file type '" + type + "'");
    node->maxAttempts = integerOr<uint8_t>(attributes, "maxAttempts", 10);
    node->remainingAttempts = integerOr<uint8_t>(attributes, "remainingAttempts", node->maxAttempts);
    // Both counters share one byte of the FCP, a nibble each.
    if (node->maxAttempts > 15 || node->remainingAttempts > node->maxAttempts)
        throw std::invalid_argument("attempt counters must satisfy remaining <= maximum <= 15");
    if (attributes.contains("pin"))
        node->pin = textBytes(attributes["pin"].get<std::string>());
    Bytes content = attributes.contains("content") ? parseHex(attributes["content"].get<std::string>()) : contentFor(id);
    if (content.empty())
        throw std::invalid_argument("empty content");
    storeContent(*node, std::move(content), attributes.value("damaged", false));
    return node;
}

bool isFolderEntry(const Json& entry)
{
    return entry.is_object() && !entry.contains("type");
}

void addEntries(FileNode& folder, const Json& entries)
{
    for (const auto& [name, entry] : entries.items()) {
        const uint16_t id = fileId(name);
        if (isFolderEntry(entry)) {
            auto child = std::make_unique<FileNode>();
            child->id = id;
            addEntries(folder.add(std::move(child)), entry);
        } else {
            folder.add(objectFrom(id, entry));
        }
    }
}

std::unique_ptr<FileNode> fileTree(const Json& entries)
{
    auto root = std::make_unique<FileNode>();
    root->id = 0x3F00;
    addEntries(*root, entries);
    return root;
}

std::unique_ptr<FileNode> globalPin(const Json& entry)
{
    return objectFrom(fileId(entry.at("id").get<std::string>()), entry);
}

int protocolNumber(const std::string& name)
{
    if (name == "T=0")
        return 0;
    if (name == "T=1")
        return 1;
    throw std::invalid_argument("protocol must be \"T=0\" or \"T=1\"");
}

Bytes atrOf(const Json& profile)
{
    if (profile.contains("atr") && !profile["atr"].is_null())
        return hex(profile, "atr");
    const auto historical = convertKey("historical", [&] { return required(profile, "historical").get<std::string>(); });
    const int protocol = convertKey("protocol", [&] { return protocolNumber(profile.value("protocol", std::string("T=1"))); });
    return convertKey("historical", [&] { return atrFromHistorical(historical, protocol); });
}

// One short answer (256 bytes) holds 25 sector records of 10 bytes.
constexpr size_t maxSectors = 25;

std::vector<Sector> sectorsOf(const Json& profile)
{
    std::vector<Sector> sectors;
    for (const auto& entry : required(profile, "sectors"))
        sectors.push_back({integer<uint32_t>(entry.at("rewrites")), entry.value("unreliable", false)});
    if (sectors.size() > maxSectors)
        throw std::invalid_argument("at most 25 sectors fit one answer");
    return sectors;
}

std::vector<Override> overridesOf(const Json& profile)
{
    std::vector<Override> overrides;
    for (const auto& item : profile.value("overrides", Json::array())) {
        Override entry{parseHex(item.at("command").get<std::string>()), parseHex(item.at("response").get<std::string>()),
                       std::nullopt};
        if (item.contains("times"))
            entry.times = integer<unsigned>(item["times"]);
        if (entry.response.size() < 2)
            throw std::invalid_argument("a response needs at least SW1 SW2");
        overrides.push_back(std::move(entry));
    }
    return overrides;
}

ProtectRule ruleFrom(const Json& text)
{
    const Bytes bytes = parseHex(text.get<std::string>());
    if (bytes.empty() || bytes.size() > 2)
        throw std::invalid_argument("a rule is its condition byte, then the secret byte if it names one");
    return {bytes[0], bytes.size() == 2 ? bytes[1] : uint8_t{0}};
}

FlashSection sectionFrom(const Json& entry)
{
    FlashSection section;
    const auto number = integer<int>(entry.at("number"));
    if (number < 1 || number > 8)
        throw std::invalid_argument("section numbers run from 1 to 8");
    section.number = static_cast<uint8_t>(number);
    const auto type = integerOr<int>(entry, "type", 0);
    if (type < 0 || type > 3)
        throw std::invalid_argument("section types are 0 to 3");
    section.type = static_cast<SectionType>(type);
    section.size = integer<uint32_t>(entry.at("size"));
    const auto state = integerOr<int>(entry, "access", 0);
    if (state < 0 || state > 0xFF)
        throw std::invalid_argument("access states are 0, 1, 3 and 5");
    section.access = static_cast<uint8_t>(state);
    const Json rules = entry.value("rules", Json::object());
    for (const auto& [op, rule] : rules.items()) {
        const uint8_t bit = hexByte(op);
        if (bit == 0 || (bit & (bit - 1)) || bit > operation::permanentCdRom)
            throw std::invalid_argument("'" + op + "' is not one of the operations 01 02 04 08 10 20");
        section.rules[bit] = ruleFrom(rule);
    }
    checkSection(section);
    return section;
}

void checkPartition(const FlashProfile& flash)
{
    std::set<uint8_t> numbers;
    uint64_t used = 0;
    int journals = 0;
    for (const auto& section : flash.sections) {
        if (!numbers.insert(section.number).second)
            throw std::invalid_argument("section " + std::to_string(section.number) + " is listed twice");
        used += section.type == SectionType::Encrypted ? 0 : section.size;
        journals += section.type == SectionType::JournalEvents;
    }
    if (flash.sections.size() > 8 || journals > 1)
        throw std::invalid_argument("at most 8 sections, one of them the journal events section");
    if (used > flash.totalSize)
        throw std::invalid_argument("the sections need more than totalSize");
}

FlashProfile flashFrom(const Json& flash)
{
    if (!flash.is_object())
        throw std::invalid_argument("flash is an object");
    FlashProfile profile;
    profile.totalSize = integerOr<uint32_t>(flash, "totalSize", 0);
    profile.restartDelay = std::chrono::milliseconds(integerOr<uint32_t>(flash, "restartDelayMs", 1000));
    for (const auto& entry : flash.value("sections", Json::array()))
        profile.sections.push_back(sectionFrom(entry));
    if (flash.contains("journalDrive")) {
        profile.journalDrive = flash["journalDrive"].get<std::string>();
        if (!std::filesystem::is_directory(*profile.journalDrive))
            throw std::invalid_argument("journalDrive '" + profile.journalDrive->string() + "' is not a directory");
    }
    profile.journalFileSize = integerOr(flash, "journalFileSize", profile.journalFileSize);
    if (profile.journalFileSize == 0)
        throw std::invalid_argument("journalFileSize is at least 1");
    checkPartition(profile);
    return profile;
}

void readIdentity(TokenProfile& token, const Json& profile)
{
    token.serial = number<uint64_t>(profile, "serial");
    token.identity = hex(profile, "identity");
    if (token.identity.size() != 12)
        throw ProfileError("key 'identity': the identity record has 12 bytes");
    token.atr = atrOf(profile);
    if (profile.contains("modelName") && !profile["modelName"].is_null())
        token.modelName = convertKey("modelName", [&] { return profile["modelName"].get<std::string>(); });
    if (token.modelName && token.modelName->size() > maxAnswer)
        throw ProfileError("key 'modelName': " + std::string(tooLong));
    token.hardwareData = answerHex(profile, "hardwareData");
    if (profile.contains("iteration") && !profile["iteration"].is_null())
        token.iteration = number<uint8_t>(profile, "iteration");
    token.freeMemory = number<uint32_t>(profile, "freeMemory");
    token.changesCounter = number<uint32_t>(profile, "changesCounter");
    token.usbConnectionCounter = number<uint32_t>(profile, "usbConnectionCounter");
}

void readDiagnostics(TokenProfile& token, const Json& profile)
{
    const Json& firmware = required(profile, "firmware");
    token.firmwareChecksum = convertKey("firmware", [&] {
        const Bytes checksum = parseHex(firmware.at("checksum").get<std::string>());
        if (checksum.size() != 4)
            throw std::invalid_argument("the checksum has 4 bytes");
        return static_cast<uint32_t>(checksum[0] << 24 | checksum[1] << 16 | checksum[2] << 8 | checksum[3]);
    });
    token.firmwareDamaged = convertKey("firmware", [&] { return firmware.value("damaged", false); });
    convertKey("damagedSystemKeys", [&] {
        for (const auto& key : profile.value("damagedSystemKeys", Json::array()))
            token.damagedSystemKeys.insert(hexByte(key.get<std::string>()));
        return 0;
    });
    convertKey("selfTests", [&] {
        const Json tests = profile.value("selfTests", Json::object());
        for (const auto& [test, result] : tests.items())
            token.selfTestResults[hexByte(test)] = integer<uint32_t>(result);
        return 0;
    });
    const Json& pins = required(profile, "globalPins");
    token.adminPin = convertKey("globalPins", [&] { return globalPin(pins.at("admin")); });
    token.userPin = convertKey("globalPins", [&] { return globalPin(pins.at("user")); });
    if (!token.adminPin->pin || !token.userPin->pin)
        throw ProfileError("missing key 'globalPins.admin.pin' or 'globalPins.user.pin'");
    token.errorCounters = convertKey("errorCounters", [&] {
        const Json& counters = required(profile, "errorCounters");
        std::array<uint16_t, 6> values{};
        if (!counters.is_array() || counters.size() != values.size())
            throw std::invalid_argument("six error counters");
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = integer<uint16_t>(counters[i]);
        return values;
    });
    token.emergencyEvent = answerHex(profile, "emergencyEvent");
    token.sectors = convertKey("sectors", [&] { return sectorsOf(profile); });
}

TokenProfile profileFrom(const Json& profile)
{
    TokenProfile token;
    readIdentity(token, profile);
    readDiagnostics(token, profile);
    token.root = convertKey("fileSystem", [&] { return fileTree(required(profile, "fileSystem")); });
    token.securityJournal = optionalHex(profile, "securityJournal");
    if (profile.contains("flash") && !profile["flash"].is_null())
        token.flash = convertKey("flash", [&] { return flashFrom(profile["flash"]); });
    token.overrides = convertKey("overrides", [&] { return overridesOf(profile); });
    return token;
}

// Lays `derived` over `base`: objects merge key by key, null removes a key,
// anything else replaces; overrides are the exception, they add up, the
// derived profile's first so that they win.
Json layered(Json base, Json derived)
{
    Json overrides = derived.value("overrides", Json::array());
    for (const auto& entry : base.value("overrides", Json::array()))
        overrides.push_back(entry);
    derived.erase("overrides");
    derived.erase("base");
    base.merge_patch(derived);
    base["overrides"] = overrides;
    return base;
}

// Far deeper than any profile; merging and walking the tree recurse, and a
// profile nested many thousand levels would overflow the stack.
constexpr int maxNesting = 64;

Json parseJson(const std::string& text, const std::string& origin)
{
    const auto limitDepth = [](int depth, Json::parse_event_t, Json&) {
        if (depth > maxNesting)
            throw ProfileError("nested deeper than 64 levels");
        return true;
    };
    try {
        return Json::parse(text, limitDepth);
    } catch (const Json::exception& e) {
        throw ProfileError(origin + ": " + e.what());
    } catch (const ProfileError& e) {
        throw ProfileError(origin + ": " + e.what());
    }
}

Json defaultJson()
{
    return parseJson(defaultProfileText, "built-in profile");
}

// A profile larger than this is not a profile (and /dev/zero never ends).
constexpr std::streamsize maxProfileSize = 16 << 20;

std::string readProfileFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw ProfileError(file.string() + ": cannot be read");
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<size_t>(in.gcount()));
        if (text.size() > static_cast<size_t>(maxProfileSize))
            throw ProfileError(file.string() + ": larger than 16 MiB");
    }
    return text;
}

Json resolvedJson(const std::string& text, const std::string& origin, const std::filesystem::path& folder,
                  const ProfileReader& readBase, int depth)
{
    if (depth > maxBaseDepth)
        throw ProfileError(origin + ": too many bases (do two profiles name each other?)");
    Json profile = parseJson(text, origin);
    if (!profile.is_object())
        throw ProfileError(origin + ": a profile is a JSON object");
    Json base = defaultJson();
    if (profile.contains("base")) {
        const std::filesystem::path baseFile =
            folder / convertKey("base", [&] { return profile["base"].get<std::string>(); });
        base = resolvedJson(readBase(baseFile), baseFile.string(), baseFile.parent_path(), readBase, depth + 1);
    }
    try {
        return convertKey("overrides", [&] { return layered(std::move(base), std::move(profile)); });
    } catch (const ProfileError& e) {
        throw ProfileError(origin + ": " + e.what());
    }
}

}  // namespace

Bytes atrFromHistorical(const std::string& historical, int protocol)
{
    if (historical.size() > 15)
        throw std::invalid_argument("an ATR carries at most 15 historical bytes");
    const auto count = static_cast<uint8_t>(historical.size());
    // T=1: TD1 80 (T=0, TD2 follows), TD2 01 (T=1), as the T=1 tokens send.
    Bytes atr = protocol == 0 ? Bytes{0x3B, count} : Bytes{0x3B, static_cast<uint8_t>(0x80 | count), 0x80, 0x01};
    atr.insert(atr.end(), historical.begin(), historical.end());
    if (protocol != 0) {
        uint8_t check = 0;
        for (size_t i = 1; i < atr.size(); ++i)
            check ^= atr[i];
        atr.push_back(check);
    }
    return atr;
}

TokenProfile profileFromText(const std::string& text, const std::string& origin, const std::filesystem::path& folder,
                             const ProfileReader& readBase)
{
    const Json profile = resolvedJson(text, origin, folder, readBase, 0);
    try {
        return profileFrom(profile);
    } catch (const ProfileError& e) {
        throw std::runtime_error(origin + ": " + e.what());
    }
}

TokenProfile loadProfile(const std::filesystem::path& file)
{
    return profileFromText(readProfileFile(file), file.string(), file.parent_path(), readProfileFile);
}

TokenProfile defaultProfile()
{
    return profileFrom(defaultJson());
}

}  // namespace kvtoken
