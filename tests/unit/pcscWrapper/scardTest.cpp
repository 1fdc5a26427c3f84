#include "pcscWrapper/scard.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace {

const Bytes kAtr = hexBytes("3B 8F 80 01 4B 76 53 43");

int32_t code32(LONG code) { return static_cast<int32_t>(code); }

// The code of the PcscExcepion that action throws; a failure when it throws none.
int32_t pcscErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const PcscExcepion& error) {
        return error.code();
    }
    ADD_FAILURE() << "no PcscExcepion thrown";
    return 0;
}

std::string repeated(const std::string& byteHex, int count)
{
    std::string hex;
    for (int i = 0; i < count; ++i)
        hex += byteHex + " ";
    return hex;
}

class ScardTest : public testing::Test {
protected:
    ScriptedCard& card(DWORD protocol = SCARD_PROTOCOL_T1) { return pcsc.addReader("Reader", kAtr, protocol); }
    std::unique_ptr<Scard> connect() { return std::make_unique<Scard>(pcsc, "Reader"); }

    ScriptedPcsc pcsc;
};

struct ErrorTextCase {
    LONG code;
    int32_t signedCode;
    const char* text;
};

TEST(PcscExcepionTest, MessageShowsSignedAndHexCode)
{
    const ErrorTextCase cases[] = {
        {SCARD_W_REMOVED_CARD, -2146434967, "some pcsc error acquired:-2146434967(0x80100069)"},
        {SCARD_E_UNEXPECTED, -2146435041, "some pcsc error acquired:-2146435041(0x8010001f)"},
        {5, 5, "some pcsc error acquired:5(0x00000005)"},
    };
    for (const auto& c : cases) {
        const PcscExcepion error(c.code, KV_THROW_SITE);
        EXPECT_EQ(error.code(), c.signedCode);
        EXPECT_STREQ(error.what(), c.text);
    }
}

TEST_F(ScardTest, ConnectsSharedWithItsOwnContextAndReleasesBoth)
{
    card();
    {
        auto scard = connect();
        EXPECT_EQ(pcsc.openContexts, 1);
        Bytes atr(32, 0);
        EXPECT_EQ(scard->getAtr(atr), SCARD_S_SUCCESS);
        EXPECT_EQ(atr, kAtr);
    }
    EXPECT_EQ(pcsc.disconnects, 1);
    EXPECT_EQ(pcsc.openContexts, 0);
}

TEST_F(ScardTest, FailedConnectReleasesTheContextAndThrowsItsCode)
{
    pcsc.addEmptyReader("Reader");
    EXPECT_EQ(pcscErrorOf([&] { connect(); }), code32(SCARD_E_NO_SMARTCARD));
    EXPECT_EQ(pcsc.openContexts, 0);

    pcsc.establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(pcscErrorOf([&] { connect(); }), code32(SCARD_E_NO_SERVICE));
}

TEST_F(ScardTest, AtrTooLongForTheRoomIsReturnedAsCodeNotThrown)
{
    card();
    auto scard = connect();
    Bytes atr(4, 0);
    EXPECT_NE(scard->getAtr(atr), SCARD_S_SUCCESS);
}

struct ProtocolCase {
    const char* name;
    DWORD protocol;
    std::function<std::unique_ptr<Apdu>()> make;
    const char* sent;
};

class ScardProtocol : public ScardTest, public testing::WithParamInterface<ProtocolCase> {};

// T=0 cannot carry Le after command data; every other exchange goes as encoded.
TEST_P(ScardProtocol, SendsWithTheProtocolsHeaderAndDropsLeOnlyForT0Case4)
{
    card(GetParam().protocol).on("00", "90 00");
    auto scard = connect();
    scard->sendApdu(*GetParam().make());
    EXPECT_EQ(toHex(pcsc.card(0).received.at(0)), GetParam().sent);
    EXPECT_EQ(pcsc.transmits.at(0).sendProtocol, GetParam().protocol);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScardProtocol,
    testing::Values(
        ProtocolCase{"T1Case4", SCARD_PROTOCOL_T1, [] { return std::make_unique<SelectNextFileApdu>(0x1001); },
                     "00 A4 00 06 02 10 01 00"},
        ProtocolCase{"T0Case4", SCARD_PROTOCOL_T0, [] { return std::make_unique<SelectNextFileApdu>(0x1001); },
                     "00 A4 00 06 02 10 01"},
        ProtocolCase{"RawCase4", SCARD_PROTOCOL_RAW, [] { return std::make_unique<SelectNextFileApdu>(0x1001); },
                     "00 A4 00 06 02 10 01 00"},
        ProtocolCase{"T0Case2", SCARD_PROTOCOL_T0, [] { return std::make_unique<GetSerialApdu>(); },
                     "00 CA 01 81 08"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScardTest, UnknownProtocolThrowsUnexpectedWithoutTransmitting)
{
    card(0x8);
    auto scard = connect();
    EXPECT_EQ(pcscErrorOf([&] { scard->sendApdu(GetSerialApdu()); }), code32(SCARD_E_UNEXPECTED));
    EXPECT_TRUE(pcsc.transmits.empty());
}

TEST_F(ScardTest, WrongLengthResendsOnceWithTheExactLe)
{
    card().on("00 A4 00 04", {"6C 10", repeated("5A", 16) + "90 00"});
    auto scard = connect();
    const ApduResponse answer = scard->sendApdu(SelectFirstFileApdu());
    ASSERT_EQ(pcsc.card(0).received.size(), 2u);
    EXPECT_EQ(toHex(pcsc.card(0).received[1]), "00 A4 00 04 10");
    EXPECT_EQ(pcsc.transmits[1].receiveRoom, 18u);
    EXPECT_EQ(answer.sw, 0x9000);
    EXPECT_EQ(answer.data, Bytes(16, 0x5A));
}

TEST_F(ScardTest, SecondWrongLengthIsReturnedNotRetried)
{
    card().on("00 A4 00 04", std::vector<std::string>{"6C 10", "6C 08"});
    auto scard = connect();
    EXPECT_EQ(scard->sendApdu(SelectFirstFileApdu()).sw, 0x6C08);
    EXPECT_EQ(pcsc.card(0).received.size(), 2u);
}

// 6C00 names 256 bytes; the retry gets room for all of them.
TEST_F(ScardTest, WrongLengthZeroRetriesWithRoomFor256Bytes)
{
    card().on("00 CA 01 89", {"6C 00", repeated("11", 256) + "90 00"});
    auto scard = connect();
    const ApduResponse answer = scard->sendApdu(GetIdentityApdu());
    EXPECT_EQ(toHex(pcsc.card(0).received.at(1)), "00 CA 01 89 00");
    EXPECT_EQ(pcsc.transmits[1].receiveRoom, 258u);
    EXPECT_EQ(answer.data.size(), 256u);
}

// Replacing the last byte of a command sent without Le would corrupt its data.
TEST_F(ScardTest, WrongLengthToACommandSentWithoutLeIsReturnedAsIs)
{
    const struct {
        DWORD protocol;
        std::function<std::unique_ptr<Apdu>()> make;
    } cases[] = {
        {SCARD_PROTOCOL_T1, [] { return std::make_unique<CheckSystemKeyApdu>(0x21); }},
        {SCARD_PROTOCOL_T1, [] { return std::make_unique<Apdu>(0x00, 0xA4, 0x08, 0x04, Bytes{0x3F, 0x00}); }},
        {SCARD_PROTOCOL_T0, [] { return std::make_unique<SelectNextFileApdu>(0x1001); }},
    };
    for (const auto& c : cases) {
        ScriptedPcsc fresh;
        fresh.addReader("Reader", kAtr, c.protocol).on("", "6C 04");
        Scard scard(fresh, "Reader");
        EXPECT_EQ(scard.sendApdu(*c.make()).sw, 0x6C04);
        EXPECT_EQ(fresh.card(0).received.size(), 1u);
    }
}

TEST_F(ScardTest, MoreDataIsFetchedWithGetResponseAndJoinedInOrder)
{
    card()
        .on("00 84 00 00 20", "A1 A2 61 20")
        .on("00 C0 00 00 20", repeated("B2", 32) + "61 08")
        .on("00 C0 00 00 08", repeated("C3", 8) + "90 00");
    auto scard = connect();
    const ApduResponse answer = scard->sendApdu(GetChallengeApdu(0x20));

    const auto& sent = pcsc.card(0).received;
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(toHex(sent[1]), "00 C0 00 00 20");
    EXPECT_EQ(toHex(sent[2]), "00 C0 00 00 08");
    EXPECT_EQ(pcsc.transmits[1].receiveRoom, 34u);
    EXPECT_EQ(pcsc.transmits[2].receiveRoom, 10u);
    EXPECT_EQ(answer.sw, 0x9000);
    EXPECT_EQ(toHex(answer.data), "A1 A2 " + toHex(Bytes(32, 0xB2)) + " " + toHex(Bytes(8, 0xC3)));
}

TEST_F(ScardTest, GetResponseWithWrongLengthIsResentWithTheExactLe)
{
    card(SCARD_PROTOCOL_T0)
        .on("00 A4 00 06", "61 10")
        .on("00 C0 00 00", std::vector<std::string>{"6C 04", "DD EE FF 00 90 00"});
    auto scard = connect();
    const ApduResponse answer = scard->sendApdu(SelectNextFileApdu(0x1001));

    const auto& sent = pcsc.card(0).received;
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(toHex(sent[1]), "00 C0 00 00 10");
    EXPECT_EQ(toHex(sent[2]), "00 C0 00 00 04");
    EXPECT_EQ(pcsc.transmits[2].receiveRoom, 6u);
    EXPECT_EQ(answer.sw, 0x9000);
    EXPECT_EQ(toHex(answer.data), "DD EE FF 00");
}

TEST_F(ScardTest, EndlessMoreDataStopsAndReturnsTheLastStatus)
{
    card().on("00 84", "61 01").on("00 C0 00 00 01", "77 61 01");
    auto scard = connect();
    const ApduResponse answer = scard->sendApdu(GetChallengeApdu(0x20));
    EXPECT_EQ(answer.sw, 0x6101);
    EXPECT_EQ(answer.data, Bytes(256, 0x77));
    EXPECT_EQ(pcsc.card(0).received.size(), 257u);
}

TEST_F(ScardTest, AnswersOfTwoBytesOrFewer)
{
    card().on("00 CA 01 81", {"6A 82", "90", ""});
    auto scard = connect();
    const ApduResponse statusOnly = scard->sendApdu(GetSerialApdu());
    EXPECT_EQ(statusOnly.sw, 0x6A82);
    EXPECT_TRUE(statusOnly.data.empty());
    EXPECT_EQ(pcscErrorOf([&] { scard->sendApdu(GetSerialApdu()); }), code32(SCARD_E_UNEXPECTED));
    EXPECT_EQ(pcscErrorOf([&] { scard->sendApdu(GetSerialApdu()); }), code32(SCARD_E_UNEXPECTED));
}

TEST_F(ScardTest, ResetRecoveredAtTheThirdReconnectReturnsTheRetriedAnswerAndStaysUsable)
{
    card().on("00 CA 01 81", "01 02 03 04 05 06 07 08 90 00");
    auto scard = connect();
    pcsc.transmitFailures = {SCARD_W_RESET_CARD, SCARD_W_RESET_CARD, SCARD_W_RESET_CARD};

    const ApduResponse answer = scard->sendApdu(GetSerialApdu());
    EXPECT_EQ(answer.sw, 0x9000);
    EXPECT_EQ(toHex(answer.data), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(pcsc.reconnects, 3);
    EXPECT_EQ(pcsc.disconnects, 0);

    EXPECT_EQ(scard->sendApdu(GetSerialApdu()).sw, 0x9000);
}

struct TransmitFailureCase {
    const char* name;
    std::deque<LONG> transmitFailures;
    std::deque<LONG> reconnectFailures;
    LONG thrown;
    int reconnects;
    int disconnects;  // a connection given up is disconnected at once
};

class ScardTransmitFailure : public ScardTest, public testing::WithParamInterface<TransmitFailureCase> {};

TEST_P(ScardTransmitFailure, ThrowsTheLastCode)
{
    card().on("00", "90 00");
    auto scard = connect();
    pcsc.transmitFailures = GetParam().transmitFailures;
    pcsc.reconnectFailures = GetParam().reconnectFailures;

    EXPECT_EQ(pcscErrorOf([&] { scard->sendApdu(GetSerialApdu()); }), code32(GetParam().thrown));
    EXPECT_EQ(pcsc.reconnects, GetParam().reconnects);
    EXPECT_EQ(pcsc.disconnects, GetParam().disconnects);

    const bool givenUp = GetParam().disconnects == 1;
    if (givenUp) {
        EXPECT_EQ(pcscErrorOf([&] { scard->sendApdu(GetSerialApdu()); }), code32(SCARD_E_INVALID_HANDLE));
        Bytes atr(32, 0);
        EXPECT_EQ(scard->getAtr(atr), SCARD_E_INVALID_HANDLE);
    } else
        EXPECT_EQ(scard->sendApdu(GetSerialApdu()).sw, 0x9000);
    scard.reset();
    EXPECT_EQ(pcsc.disconnects, 1);  // never a second disconnect of a cleared handle
    EXPECT_EQ(pcsc.openContexts, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScardTransmitFailure,
    testing::Values(
        TransmitFailureCase{"PlainFailureKeepsTheConnection", {SCARD_E_NOT_TRANSACTED}, {},
                            SCARD_E_NOT_TRANSACTED, 0, 0},
        TransmitFailureCase{"ResetNeverRecovered", std::deque<LONG>(16, SCARD_W_RESET_CARD), {},
                            SCARD_W_RESET_CARD, 15, 1},
        TransmitFailureCase{"ReconnectFails", {SCARD_W_RESET_CARD}, {SCARD_E_NO_SMARTCARD},
                            SCARD_E_NO_SMARTCARD, 1, 1},
        TransmitFailureCase{"OtherFailureAfterReconnect", {SCARD_W_RESET_CARD, SCARD_E_COMM_DATA_LOST}, {},
                            SCARD_E_COMM_DATA_LOST, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
