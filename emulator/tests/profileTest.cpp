// Profiles: inheritance, errors that name what is wrong, and bundled
// profiles that really are the tokens their names promise.
#include "testCard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

using testing::HasSubstr;

std::string loadError(const std::filesystem::path& file)
{
    try {
        loadProfile(file);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

TEST(ProfileLoading, NoBaseMeansTheBuiltInMirel3)
{
    const TempProfile profile(R"({"serial": 42})");
    Card card(loadProfile(profile.path()));
    EXPECT_EQ(send(card, "00 CA 01 81 08"), "00 00 00 00 00 00 00 2A 90 00");
    EXPECT_EQ(send(card, "00 CA 01 89 0C"), "01 03 08 00 21 00 00 20 05 00 00 00 90 00");
    EXPECT_EQ(card.atr(), Card(defaultProfile()).atr());
}

TEST(ProfileLoading, RelativeBaseIsFoundBesideTheProfile)
{
    Card card = bundledCard("broken-firmware.json");
    EXPECT_EQ(send(card, "80 7E 00 00 04"), "6F 20");
    EXPECT_EQ(send(card, "00 CA 01 81 08"), "00 00 00 00 12 34 56 78 90 00");  // from mirel3.json
}

TEST(ProfileLoading, NullRemovesWhatTheBaseHad)
{
    Card card = cardOver("mirel3.json", R"("securityJournal": null, "hardwareData": null)");
    EXPECT_EQ(send(card, "90 5D 01 00 FF"), "6D 00");
    EXPECT_EQ(send(card, "00 CA 01 8C 10"), "6A 81");
}

TEST(ProfileLoading, WholeAtrWinsOverHistoricalBytes)
{
    Card card = cardOver("mirel3.json", R"("atr": "3B 04 4B 76 53 43")");
    EXPECT_EQ(formatHex(card.atr()), "3B 04 4B 76 53 43");
    EXPECT_EQ(card.protocol(), Protocol::T0);
}

TEST(ProfileLoading, ErrorsNameTheFileAndTheKey)
{
    const struct {
        const char* keys;
        const char* error;
    } cases[] = {
        {R"("identity": "01 02 0X")", "key 'identity': not a hex digit: 'X'"},
        {R"("identity": "01 02")", "key 'identity': the identity record has 12 bytes"},
        {R"("serial": "twelve")", "key 'serial'"},
        {R"("serial": null)", "missing key 'serial'"},
        {R"("protocol": "T=2")", "key 'protocol'"},
        {R"("historical": "Kelvane Mirel 3.0 Flash")", "at most 15 historical bytes"},
        {R"("overrides": [{"command": "00", "response": "90"}])", "key 'overrides'"},
        {R"("fileSystem": {"10": {}})", "key 'fileSystem'"},
        {R"("selfTests": {"10": "five"})", "key 'selfTests'"},
        // Numbers outside their field, or not whole, are errors rather than
        // wrapped or cut values.
        {R"("serial": 1e300)", "key 'serial'"},
        {R"("iteration": -1)", "key 'iteration'"},
        {R"("freeMemory": 4294967296)", "key 'freeMemory'"},
        {R"("errorCounters": [1, 2, 3, 4, 5, 65536])", "key 'errorCounters'"},
        {R"("sectors": [{"rewrites": 1.5}])", "key 'sectors'"},
        {R"("selfTests": {"10": -2})", "key 'selfTests'"},
        {R"("overrides": [{"command": "00", "response": "90 00", "times": -1}])", "key 'overrides'"},
        {R"("fileSystem": {"0010": {"type": "ef", "maxAttempts": 266}})", "key 'fileSystem'"},
        {R"("flash": {"totalSize": -1})", "key 'flash'"},
        {R"("flash": {"sections": [{"number": 4294967297, "size": 10}]})", "key 'flash'"},
        {R"("flash": {"sections": [{"number": 1, "size": 1e20}]})", "key 'flash'"},
    };
    for (const auto& c : cases) {
        const TempProfile profile(std::string("{") + c.keys + "}");
        const std::string error = loadError(profile.path());
        EXPECT_THAT(error, HasSubstr(profile.path().string())) << c.keys;
        EXPECT_THAT(error, HasSubstr(c.error)) << c.keys;
    }
}

TEST(ProfileLoading, UnreadableOrLoopingProfilesFailClearly)
{
    EXPECT_THAT(loadError("/nonexistent/token.json"), HasSubstr("/nonexistent/token.json: cannot be read"));
    EXPECT_THAT(loadError("/dev/zero"), HasSubstr("/dev/zero: larger than 16 MiB"));
    const TempProfile broken("{\"serial\": ");
    EXPECT_THAT(loadError(broken.path()), HasSubstr(broken.path().string()));
    // Folders nested far deeper than any token's, which recursion would not survive.
    std::string deep = R"({"fileSystem": )";
    for (int level = 0; level < 200000; ++level)
        deep += R"({"1000": )";
    deep += "{}" + std::string(200000, '}') + "}";
    const TempProfile tooDeep(deep);
    EXPECT_THAT(loadError(tooDeep.path()), HasSubstr("nested deeper than 64 levels"));
    const TempProfile loop(R"({"base": "self.json"})");
    const auto self = loop.path().parent_path() / "self.json";
    std::filesystem::copy_file(loop.path(), self, std::filesystem::copy_options::overwrite_existing);
    EXPECT_THAT(loadError(self), HasSubstr("too many bases"));
    std::filesystem::remove(self);
}

// Frames the journal the way the decoder does: tag, length, value, to the end.
bool framesExactly(const Bytes& journal)
{
    size_t position = 0;
    while (position + 2 <= journal.size())
        position += 2 + journal[position + 1];
    return position == journal.size();
}

// The facts each bundled token is made of, as the README's table lists them.
struct BundledCase {
    const char* file;
    const char* historical;
    const char* identity;
    bool newHardwareBit;       // bit 6 of hardware byte 4 (no hardware data: false)
    std::optional<int> iteration;
    bool journalOverApdus;     // identity byte 7 >= 0x20 and the journal bit set
    bool flash;
};

void PrintTo(const BundledCase& bundled, std::ostream* out)
{
    *out << bundled.file;
}

class BundledProfiles : public testing::TestWithParam<BundledCase> {};

std::string historicalBytes(const Card& card)
{
    const Bytes& atr = card.atr();
    const long check = card.protocol() == Protocol::T1 ? 1 : 0;
    return std::string(atr.end() - check - (atr[1] & 0x0F), atr.end() - check);
}

TEST_P(BundledProfiles, HoldTheFactsOfTheirModel)
{
    const auto& param = GetParam();
    Card card = bundledCard(param.file);
    EXPECT_EQ(historicalBytes(card), param.historical);
    EXPECT_EQ(send(card, "00 CA 01 89 0C"), std::string(param.identity) + " 90 00");

    const Bytes hardware = parseHex(send(card, "00 CA 01 8C 10"));
    EXPECT_EQ(hardware.size() == 18 && (hardware[4] & 0x40), param.newHardwareBit);
    const Bytes iteration = parseHex(send(card, "00 CA 01 F1 01"));
    EXPECT_EQ(iteration.size() == 3 ? std::optional<int>(iteration[0]) : std::nullopt, param.iteration);

    const Bytes identity = parseHex(param.identity);
    const Bytes info = parseHex(send(card, "80 71 00 00 07"));
    EXPECT_EQ(identity[7] >= 0x20 && (info[6] & 0x01), param.journalOverApdus);
    EXPECT_EQ(bool(info[6] & 0x04), param.flash);
    EXPECT_EQ(bool(identity[6] & 0x80), param.flash) << "the flash group bit";
}

TEST_P(BundledProfiles, HealthyJournalIsValidAndNeedsPaging)
{
    const auto journal = loadProfile(bundled(GetParam().file)).securityJournal;
    if (!journal) {
        EXPECT_FALSE(GetParam().journalOverApdus) << "a token that announces a journal keeps one";
        return;
    }
    EXPECT_TRUE(framesExactly(*journal));
    EXPECT_GT(journal->size(), 255u);
}

INSTANTIATE_TEST_SUITE_P(Healthy, BundledProfiles, testing::Values(
    BundledCase{"brisa.json", "Kelvanebrisa", "02 02 04 00 10 00 00 20 01 01 00 00", false, std::nullopt, true, false},
    BundledCase{"mirel2.json", "KelvaneMirelsc", "01 02 08 00 12 00 00 1B 04 00 00 00", false, std::nullopt, false, false},
    BundledCase{"mirel2-flash.json", "KelvaneMirelsc", "01 02 08 00 12 00 80 1B 06 00 00 00", false, std::nullopt, false, true},
    BundledCase{"mirel3.json", "Kelvane Mirel", "01 03 08 00 21 00 00 20 05 00 00 00", false, 31, true, false},
    BundledCase{"varo.json", "KvSC", "01 04 10 00 22 00 80 22 01 00 00 00", true, 30, true, true},
    BundledCase{"mirel3-flash.json", "Kelvane Mirel", "09 03 08 00 1A 00 80 21 02 00 00 00", true, 24, true, true}));

TEST(FaultyProfiles, DamagedJournalDoesNotFrame)
{
    EXPECT_FALSE(framesExactly(*loadProfile(bundled("damaged-journal.json")).securityJournal));
}

TEST(FaultyProfiles, WornSectorsAreMarkedUnreliable)
{
    const auto sectors = loadProfile(bundled("worn-sectors.json")).sectors;
    const auto unreliable = std::count_if(sectors.begin(), sectors.end(), [](const Sector& s) { return s.unreliable; });
    EXPECT_GT(unreliable, 0);
    EXPECT_LT(unreliable, static_cast<long>(sectors.size()));
}

}  // namespace
}  // namespace kvtoken::test
