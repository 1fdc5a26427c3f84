#include "caseName.h"
#include "pcscWrapper/token.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct IdentityFields {
    uint8_t type = 0x01;
    uint8_t byte4 = 0x10;  // model information
    uint8_t byte6 = 0x00;  // bit 7: flash-equipped group
    uint8_t byte7 = 0x1B;  // firmware build
};

// Bytes 1, 2, 8 and 9 carry fixed recognisable values; 3, 5, 10 and 11 are unused by the tool.
std::string identityAnswer(const IdentityFields& id)
{
    return toHex(Bytes{id.type, 0x03, 0x08, 0xEE, id.byte4, 0xEE, id.byte6, id.byte7, 0x05, 0x02, 0xEE, 0xEE}) +
           " 90 00";
}

std::string hardwareData(uint8_t byte4)
{
    Bytes data(16, 0x00);
    data[4] = byte4;
    return toHex(data) + " 90 00";
}

// The message of the runtime error that action throws; empty when it throws none.
std::string runtimeErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// A card in the reader "Reader" that answers the identity and serial reads.
ScriptedCard& scriptedToken(ScriptedPcsc& pcsc, const std::string& identity)
{
    return pcsc.addReader("Reader", hexBytes("3B 04 4B 76 53 43"))
        .on("00 CA 01 89", identity)
        .on("00 CA 01 81", "00 00 00 00 00 01 E2 40 90 00");
}

Token tokenOver(ScriptedPcsc& pcsc) { return Token(std::make_shared<Scard>(pcsc, "Reader"), pcsc.flash); }

class TokenTest : public testing::Test {
protected:
    ScriptedCard& card(const IdentityFields& id = {}) { return scriptedToken(pcsc, identityAnswer(id)); }
    Token token() { return tokenOver(pcsc); }
    std::vector<std::string> sent() const
    {
        std::vector<std::string> commands;
        for (const auto& command : pcsc.readers.at(0).card->received)
            commands.push_back(toHex(command));
        return commands;
    }

    ScriptedPcsc pcsc;
};

TEST_F(TokenTest, ConstructionReadsIdentityThenSerial)
{
    card({.type = 0x21, .byte4 = 0x1A, .byte6 = 0x80, .byte7 = 0x1C})
        .on("00 CA 01 81", "01 02 03 04 05 06 07 F8 90 00");
    const Token t = token();

    EXPECT_EQ(sent(), (std::vector<std::string>{"00 CA 01 89 0C", "00 CA 01 81 08"}));
    EXPECT_EQ(t.getSerial(), 0x01020304050607F8u);
    EXPECT_EQ(t.getFirmwareVersionHigh(), (std::array<uint8_t, 2>{0x03, 0x02}));
    EXPECT_EQ(t.getFirmwareVersionLow(), (std::array<uint8_t, 2>{0x1C, 0x05}));
    EXPECT_EQ(t.identity().modelInfo, 0x1A);
    EXPECT_EQ(t.identity().hardwareGroup, 0x80);
    EXPECT_FALSE(t.isFlashSupported());
}

TEST_F(TokenTest, LongerIdentityAnswerIsAccepted)
{
    card().on("00 CA 01 89", "61 0E").on("00 C0 00 00 0E", "01 03 08 00 10 00 00 1B 05 02 00 00 AA BB 90 00");
    EXPECT_EQ(token().getFirmwareVersionLow(), (std::array<uint8_t, 2>{0x1B, 0x05}));
}

struct ConstructionFailure {
    const char* rule;
    const char* answer;
    const char* message;
};

class TokenConstructionFailure : public TokenTest, public testing::WithParamInterface<ConstructionFailure> {};

TEST_P(TokenConstructionFailure, ThrowsTheOperationsMessage)
{
    card().on(GetParam().rule, GetParam().answer).on("00 CA 01 81 09", "01 02 03 04 05 06 07 08 09 90 00");
    EXPECT_EQ(runtimeErrorOf([&] { token(); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenConstructionFailure,
    testing::Values(ConstructionFailure{"00 CA 01 89", "6A 82", "Failed to get token identity data."},
                    ConstructionFailure{"00 CA 01 89", "01 03 08 00 10 00 00 1B 05 02 00 90 00",
                                        "Wrong token identity data length."},
                    ConstructionFailure{"00 CA 01 81", "6A 88", "Failed to get token serial."},
                    ConstructionFailure{"00 CA 01 81", "01 02 03 04 05 06 07 90 00", "Wrong token id length."},
                    // A nine-byte answer reaches the token layer through the card's exact-length answer.
                    ConstructionFailure{"00 CA 01 81", "6C 09", "Wrong token id length."}),
    [](const auto& info) { return caseName("Command", std::string(info.param.rule) + " answer " + info.param.answer); });

TEST_F(TokenTest, SupportedTypesAreJudgedByTheLowFiveBits)
{
    const std::pair<uint8_t, bool> cases[] = {
        {0x01, true}, {0x02, true}, {0x09, true}, {0x21, true}, {0xE9, true},
        {0x00, false}, {0x03, false}, {0x0A, false}, {0x11, false},
    };
    for (const auto& [type, supported] : cases) {
        ScriptedPcsc fresh;
        scriptedToken(fresh, identityAnswer({.type = type}));
        EXPECT_EQ(tokenOver(fresh).isSupported(), supported) << int(type);
    }
}

TEST_F(TokenTest, HardwareFeatureBit)
{
    struct {
        std::string answer;
        std::optional<bool> bit;  // none: the message below is thrown
        const char* message;
    } const cases[] = {
        {hardwareData(0x40), true, ""},
        {hardwareData(0xBF), false, ""},
        {"6A 81", false, ""},
        {"6F 3A", false, ""},
        {"6A 82", std::nullopt, "Failed to get token hardware data."},
        {"00 00 00 00 40 00 00 00 00 00 00 00 00 00 00 90 00", std::nullopt, "Invalid hardware data length."},
    };
    card();
    const Token t = token();
    for (const auto& c : cases) {
        pcsc.card(0).on("00 CA 01 8C", c.answer);
        if (c.bit)
            EXPECT_EQ(t.hasHardwareFeatureBit(), *c.bit) << c.answer;
        else
            EXPECT_EQ(runtimeErrorOf([&] { t.hasHardwareFeatureBit(); }), c.message) << c.answer;
    }
}

TEST_F(TokenTest, MicroprogramIteration)
{
    card();
    const Token t = token();
    pcsc.card(0).on("00 CA 01 F1", "19 AA 90 00");
    EXPECT_EQ(t.getMicroprogramIteration(), 0x19);
    pcsc.card(0).on("00 CA 01 F1", "6A 81");
    EXPECT_EQ(t.getMicroprogramIteration(), 0);
    for (const char* failing : {"6A 82", "90 00"}) {
        pcsc.card(0).on("00 CA 01 F1", failing);
        EXPECT_EQ(runtimeErrorOf([&] { t.getMicroprogramIteration(); }), "Failed to get token iteration.") << failing;
    }
}

struct ModelCase {
    const char* name;
    IdentityFields identity;
    std::string hardware;
    const char* iteration;  // null: the iteration must not be asked
    std::optional<TokenModel> model;  // none: "Unsupported token." or the iteration's failure
    const char* message = "";
    bool flashSupported = false;  // the flash library knows the token and supports its sections
};

class TokenModelTest : public TokenTest, public testing::WithParamInterface<ModelCase> {};

TEST_P(TokenModelTest, ModelFromIdentityHardwareAndIteration)
{
    const ModelCase& c = GetParam();
    if (c.flashSupported)
        pcsc.flash.createStatus = KVFLASH_OK;
    card(c.identity).on("00 CA 01 8C", c.hardware).on("00 CA 01 F1", c.iteration ? c.iteration : "90 00");
    const Token t = token();
    if (c.model)
        EXPECT_EQ(t.getModel(), *c.model);
    else
        EXPECT_EQ(runtimeErrorOf([&] { t.getModel(); }), c.message);

    const auto commands = sent();
    const bool askedIteration = std::find(commands.begin(), commands.end(), "00 CA 01 F1 20") != commands.end();
    EXPECT_EQ(askedIteration, c.iteration != nullptr);
}

const std::string kNoHardwareData = "6A 81";
const std::string kFeatureBit = hardwareData(0x40);
const std::string kNoFeatureBit = hardwareData(0x00);

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenModelTest,
    testing::Values(
        ModelCase{"Brisa", {.type = 0x02}, kNoHardwareData, nullptr, KelvaneBrisa},
        ModelCase{"BrisaWithFeatureBitStillAsksIteration", {.type = 0x02}, kFeatureBit, "30 90 00", KelvaneBrisa},
        ModelCase{"Mirel20AtBuild27", {.type = 0x01, .byte7 = 27}, kNoFeatureBit, nullptr, KelvaneMirel20},
        ModelCase{"Mirel30AboveBuild27", {.type = 0x09, .byte7 = 28}, kNoFeatureBit, nullptr, KelvaneMirel30},
        ModelCase{"Mirel30HighTypeBits", {.type = 0x21, .byte7 = 28}, "6F 3A", nullptr, KelvaneMirel30},
        ModelCase{"UnsupportedType", {.type = 0x03}, kNoHardwareData, nullptr, std::nullopt, "Unsupported token."},
        ModelCase{"FlashGroupOfAnyType", {.type = 0x03, .byte6 = 0x80}, kNoHardwareData, nullptr,
                  KelvaneMirel20Flash},
        ModelCase{"VaroIteration25", {.byte4 = 26, .byte6 = 0x80}, kFeatureBit, "19 90 00", KelvaneVaro},
        ModelCase{"FlashIteration24", {.byte4 = 26, .byte6 = 0x80}, kFeatureBit, "18 90 00", KelvaneMirel20Flash},
        ModelCase{"FlashIteration24WithFlashAccess", {.byte4 = 26, .byte6 = 0x80}, kFeatureBit, "18 90 00",
                  KelvaneMirel30Flash, "", true},
        ModelCase{"VaroWithFlashAccess", {.byte4 = 26, .byte6 = 0x80}, kFeatureBit, "19 90 00", KelvaneVaro, "", true},
        ModelCase{"FlashAccessOutsideTheFlashGroup", {.type = 0x09, .byte7 = 28}, kNoFeatureBit, nullptr,
                  KelvaneMirel30, "", true},
        ModelCase{"VaroModelInfo27", {.byte4 = 27, .byte6 = 0x80}, kFeatureBit, "6A 81", KelvaneVaro},
        ModelCase{"NewModelInfoWithoutFeatureBit", {.byte4 = 30, .byte6 = 0x80}, kNoFeatureBit, nullptr,
                  KelvaneMirel20Flash},
        ModelCase{"IterationFailurePropagates", {.byte4 = 30, .byte6 = 0x80}, kFeatureBit, "6D 00", std::nullopt,
                  "Failed to get token iteration."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModelName, EveryModelByItsNumberAndNoneBeyond)
{
    EXPECT_EQ(modelName(TokenModel(0)), "Kelvane Brisa");
    EXPECT_EQ(modelName(TokenModel(1)), "Kelvane Mirel 2.0");
    EXPECT_EQ(modelName(TokenModel(2)), "Kelvane Mirel 2.0 Flash");
    EXPECT_EQ(modelName(TokenModel(3)), "Kelvane Mirel 3.0");
    EXPECT_EQ(modelName(TokenModel(4)), "Kelvane Varo");
    EXPECT_EQ(modelName(TokenModel(5)), "Kelvane Mirel 3.0 Flash");
    EXPECT_EQ(modelName(TokenModel(6)), "Unknown model");
    EXPECT_EQ(modelName(TokenModel(-1)), "Unknown model");
}

TEST_F(TokenTest, MemoryInfo)
{
    struct {
        uint8_t eepromUnits;
        const char* answer;
        std::optional<std::pair<uint32_t, uint32_t>> memory;  // none: "Failed to get token free memory."
    } const cases[] = {
        {0x08, "00 01 00 00 90 00", std::pair<uint32_t, uint32_t>{65536, 65536}},
        {0xFF, "FF FF FF FE 90 00", std::pair<uint32_t, uint32_t>{0xFFFFFFFE, 0xFF * 8192}},
        {0x08, "6A 82", std::nullopt},
        {0x08, "00 01 00 90 00", std::nullopt},
    };
    for (const auto& c : cases) {
        ScriptedPcsc fresh;
        scriptedToken(fresh, toHex(Bytes{0x01, 0x03, c.eepromUnits, 0, 0, 0, 0, 0, 0, 0, 0, 0}) + " 90 00")
            .on("00 CA 01 8A", c.answer);
        const Token t = tokenOver(fresh);
        if (c.memory)
            EXPECT_EQ(t.getMemoryInfo(), *c.memory) << c.answer;
        else
            EXPECT_EQ(runtimeErrorOf([&] { t.getMemoryInfo(); }), "Failed to get token free memory.") << c.answer;
    }
}

TEST_F(TokenTest, SelfIdentificationModelOnlyWhenTheTokenReportsIt)
{
    card({.byte4 = 0x1F});
    EXPECT_EQ(token().getSelfIdentificationModel(), std::nullopt);
    EXPECT_EQ(sent().size(), 2u);  // identity and serial only

    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"41 42 43 00 00 44 90 00", "ABC"},
        {"41 42 43 90 00", "ABC"},
        {"6A 82", std::nullopt},
    };
    for (const auto& [answer, model] : cases) {
        ScriptedPcsc fresh;
        scriptedToken(fresh, identityAnswer({.byte4 = 0x20})).on("00 CA 01 85", answer);
        EXPECT_EQ(tokenOver(fresh).getSelfIdentificationModel(), model) << answer;
    }
}

TEST_F(TokenTest, CopiesShareOneConnectionClosedWithTheLastCopy)
{
    card().on("80 7E 00 00", "DE AD BE EF 90 00");
    std::optional<Token> original = token();
    std::optional<Token> copy = *original;
    original.reset();
    EXPECT_EQ(pcsc.disconnects, 0);

    const ApduResponse answer = copy->sendApdu(GetOsCrcApdu());
    EXPECT_EQ(answer.sw, 0x9000);
    EXPECT_EQ(toHex(answer.data), "DE AD BE EF");
    EXPECT_EQ(pcsc.connectedReaders.size(), 1u);

    copy.reset();
    EXPECT_EQ(pcsc.disconnects, 1);
}

}  // namespace
