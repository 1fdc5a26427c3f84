#include "pcscWrapper/tokenDiscovery.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// TS, T0 with K historical bytes and no interface bytes, then the text.
Bytes plainAtr(const std::string& historical)
{
    Bytes atr{0x3B, static_cast<uint8_t>(historical.size())};
    atr.insert(atr.end(), historical.begin(), historical.end());
    return atr;
}

// The same behind TD1 offering T=1, as a T=1 token announces itself.
Bytes t1Atr(const std::string& historical)
{
    Bytes atr{0x3B, static_cast<uint8_t>(0x80 | historical.size()), 0x80, 0x01};
    atr.insert(atr.end(), historical.begin(), historical.end());
    return atr;
}

// A family card that answers identity and serial; the serial's last byte names it.
ScriptedCard& addToken(ScriptedPcsc& pcsc, const std::string& reader, uint8_t serial, uint8_t type = 0x01,
                       const Bytes& atr = t1Atr("KelvaneMirelsc"))
{
    return pcsc.addReader(reader, atr)
        .on("00 CA 01 89", toHex(Bytes{type, 0x03, 0x08, 0, 0x10, 0, 0, 0x1C, 0, 0, 0, 0}) + " 90 00")
        .on("00 CA 01 81", "00 00 00 00 00 00 00 " + toHex(Bytes{serial}) + " 90 00");
}

std::string historicalText(const Bytes& atr)
{
    const auto historical = historicalBytes(atr);
    return historical ? toHex(Bytes(historical->begin(), historical->end())) : "none";
}

TEST(AtrTest, HistoricalBytesFollowTheInterfaceBytesAnnounced)
{
    const std::pair<const char*, const char*> cases[] = {
        {"3B 04 4B 76 53 43", "4B 76 53 43"},
        {"3B 84 01 4B 76 53 43", "4B 76 53 43"},                // TD1 without further bytes
        {"3B 84 81 31 AA BB 4B 76 53 43", "4B 76 53 43"},       // TD2 announcing TA3 and TB3
        {"3B F4 11 22 33 01 4B 76 53 43", "4B 76 53 43"},       // TA1, TB1, TC1 and TD1
        {"3B 84 01 4B 76 53 43 5E", "4B 76 53 43"},             // a check byte after them
        {"3B 00", ""},
        // Shorter than announced: never read past the ATR.
        {"3B 84", "none"},
        {"3B 84 81", "none"},
        {"3B 74 11 22", "none"},
        {"3B 04 4B 76 53", "none"},
        {"3B", "none"},
        {"", "none"},
    };
    for (const auto& [atr, historical] : cases)
        EXPECT_EQ(historicalText(hexBytes(atr)), historical) << atr;
}

TEST(AtrTest, FamilyIsRecognisedByAKnownPrefixWithinTheHistoricalBytes)
{
    const std::pair<Bytes, bool> cases[] = {
        {plainAtr("KvSC"), true},
        {plainAtr("KvSCxyz"), true},
        {plainAtr("KvS"), false},  // K below the prefix's length
        {hexBytes("3B 03 4B 76 53 43"), false},  // the fourth byte is not historical
        {t1Atr("Kelvane Tavi 2"), true},
        {t1Atr("Kelvane Tavi"), false},  // the prefix ends with a space
        {t1Atr("KelvaneBrisaSC2"), true},
        {t1Atr("KelvaneBrisaSC"), false},
        {t1Atr("Kelvanebrisa"), true},
        {t1Atr("KelvaneBrisa"), false},
        {t1Atr("xKvSC"), false},
        {plainAtr("KELVANE MIREL"), false},
    };
    for (const auto& [atr, family] : cases)
        EXPECT_EQ(isFamilyAtr(atr), family) << toHex(atr);
}

TEST(ReaderBlacklistTest, ExcludesOnlyExactCaseSensitivePrefixes)
{
    const std::pair<const char*, bool> cases[] = {
        {"AKS VR 0", true},
        {"AKS ifdh", true},
        {"Orvell Co. Kelvane Reader 1", true},
        {"Rainbow Technologies iKeyVirtualReader 0", true},
        {"AKS V", false},
        {"aks vr 0", false},
        {"xAKS VR 0", false},
        {"Virtual PCD 00 00", false},
    };
    for (const auto& [name, excluded] : cases)
        EXPECT_EQ(isBlacklistedReader(name), excluded) << name;
}

// Lists a fixed multi-string; the second call can fail on its own.
class RawListPcsc : public ScriptedPcsc {
public:
    std::string multiString;
    LONG firstResult = SCARD_S_SUCCESS;
    LONG secondResult = SCARD_S_SUCCESS;

    LONG listReaders(SCARDCONTEXT, char* names, DWORD& length) override
    {
        if (!names) {
            length = multiString.size();
            return firstResult;
        }
        std::memcpy(names, multiString.data(), std::min<size_t>(length, multiString.size()));
        return secondResult;
    }
};

TEST(EnumReadersTest, SplitsTheMultiStringAndDropsEmptyNames)
{
    RawListPcsc pcsc;
    pcsc.multiString = "\0\0Virtual PCD 00 00\0Считыватель\0\0"s;
    EXPECT_EQ(enumReaders(pcsc, 1), (std::vector<std::string>{"Virtual PCD 00 00", "Считыватель"}));
}

TEST(EnumReadersTest, NoReadersIsAnEmptyListOtherFailuresThrow)
{
    struct {
        LONG first;
        LONG second;
        std::optional<LONG> thrown;
    } const cases[] = {
        {SCARD_E_NO_READERS_AVAILABLE, SCARD_S_SUCCESS, std::nullopt},
        {SCARD_S_SUCCESS, SCARD_E_NO_READERS_AVAILABLE, std::nullopt},  // the last reader went in between
        {SCARD_E_NO_SERVICE, SCARD_S_SUCCESS, SCARD_E_NO_SERVICE},
        {SCARD_S_SUCCESS, SCARD_E_INSUFFICIENT_BUFFER, SCARD_E_INSUFFICIENT_BUFFER},
    };
    for (const auto& c : cases) {
        RawListPcsc pcsc;
        pcsc.multiString = "R\0\0"s;
        pcsc.firstResult = c.first;
        pcsc.secondResult = c.second;
        if (!c.thrown) {
            EXPECT_TRUE(enumReaders(pcsc, 1).empty());
            continue;
        }
        try {
            enumReaders(pcsc, 1);
            ADD_FAILURE() << "no PcscExcepion";
        } catch (const PcscExcepion& error) {
            EXPECT_EQ(error.code(), static_cast<int32_t>(*c.thrown));
        }
    }
}

class DiscoveryTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(pcsc.openContexts, 0) << "every context is released"; }

    // The what() of the exception of type E that discovery throws.
    template <typename E>
    std::string discoveryError()
    {
        try {
            getAvailableToken(pcsc, pcsc.flash);
        } catch (const E& error) {
            return error.what();
        }
        ADD_FAILURE() << "discovery threw nothing of the expected type";
        return "";
    }

    ScriptedPcsc pcsc;
};

const char* const kNoToken = "Не удалось распознать Kelvane.";
const char* const kTooMany =
    "Не удалось произвести проверку. Проверьте чтобы к компьютеру был подключен только один Kelvane.";

TEST_F(DiscoveryTest, NoReadersMeansNoToken)
{
    EXPECT_EQ(discoveryError<NoTokenException>(), kNoToken);
}

TEST_F(DiscoveryTest, ContextFailureThrowsItsCode)
{
    pcsc.establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(discoveryError<PcscExcepion>(), "some pcsc error acquired:-2146435043(0x8010001d)");
}

TEST_F(DiscoveryTest, TokenBehindAnEmptyReaderIsFound)
{
    pcsc.addEmptyReader("Virtual PCD 00 00");
    addToken(pcsc, "Virtual PCD 00 01", 0x42);
    const Token token = getAvailableToken(pcsc, pcsc.flash);
    EXPECT_EQ(token.getSerial(), 0x42u);
    EXPECT_EQ(pcsc.connectedReaders, (std::vector<std::string>{"Virtual PCD 00 00", "Virtual PCD 00 01"}));
}

TEST_F(DiscoveryTest, ExcludedReadersAreNeverConnected)
{
    addToken(pcsc, "AKS VR 0", 0x01);
    addToken(pcsc, "AKS V", 0x02);
    EXPECT_EQ(getAvailableToken(pcsc, pcsc.flash).getSerial(), 0x02u);
    EXPECT_EQ(pcsc.connectedReaders, (std::vector<std::string>{"AKS V"}));
}

TEST_F(DiscoveryTest, OtherCardsAndUnreadableAtrsAreSkippedAndClosed)
{
    pcsc.addReader("Bank card", hexBytes("3B 02 14 50")).on("00", "90 00");
    Bytes tooLong = t1Atr("KelvaneMirelsc");
    tooLong.resize(33);  // one byte beyond the room discovery gives the ATR
    pcsc.addReader("Too long ATR", tooLong);
    pcsc.addReader("Truncated", hexBytes("3B 8E 80"));
    addToken(pcsc, "Token", 0x07);
    const Token token = getAvailableToken(pcsc, pcsc.flash);
    EXPECT_EQ(token.getSerial(), 0x07u);
    EXPECT_EQ(pcsc.disconnects, 3);
    EXPECT_TRUE(pcsc.card(0).received.empty());
}

TEST_F(DiscoveryTest, OnlyUnsupportedFamilyMemberMeansNoToken)
{
    addToken(pcsc, "Reader", 0x01, 0x03);
    EXPECT_EQ(discoveryError<NoTokenException>(), kNoToken);
    EXPECT_EQ(pcsc.disconnects, 1);
}

TEST_F(DiscoveryTest, SupportedTokenIsChosenBesideAnUnsupportedOne)
{
    addToken(pcsc, "Reader 0", 0x01, 0x0A);
    addToken(pcsc, "Reader 1", 0x02, 0x22, plainAtr("KvSC"));
    const Token token = getAvailableToken(pcsc, pcsc.flash);
    EXPECT_EQ(token.getSerial(), 0x02u);
    EXPECT_EQ(pcsc.disconnects, 1);  // the unsupported one only
}

TEST_F(DiscoveryTest, TwoSupportedTokensAreTooMany)
{
    addToken(pcsc, "Reader 0", 0x01);
    addToken(pcsc, "Reader 1", 0x02, 0x09);
    EXPECT_EQ(discoveryError<TooManyTokensException>(), kTooMany);
    EXPECT_EQ(pcsc.disconnects, 2);
}

TEST_F(DiscoveryTest, TokenConstructionFailureEndsDiscovery)
{
    addToken(pcsc, "Reader 0", 0x01).on("00 CA 01 89", "6A 82");
    addToken(pcsc, "Reader 1", 0x02);
    EXPECT_EQ(discoveryError<std::runtime_error>(), "Failed to get token identity data.");
    EXPECT_EQ(pcsc.connectedReaders.size(), 1u);
}

}  // namespace
