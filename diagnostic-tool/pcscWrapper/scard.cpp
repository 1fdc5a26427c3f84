#include "pcscWrapper/scard.h"

#include "utils/hexText.h"

namespace {

constexpr uint8_t kSw1WrongLength = 0x6C;
constexpr uint8_t kSw1MoreData = 0x61;
constexpr int kResetRecoveryAttempts = 15;
// A card that keeps announcing more data must not hold the tool forever:
// 256 parts of up to 256 bytes exceed any answer a token gives.
constexpr int kMaxChainedParts = 256;

uint8_t sw1(uint16_t sw) { return static_cast<uint8_t>(sw >> 8); }
uint8_t sw2(uint16_t sw) { return static_cast<uint8_t>(sw); }

std::string pcscErrorText(int32_t code)
{
    return "some pcsc error acquired:" + errorCodeText(code);
}

Apdu getResponse(uint8_t length) { return Apdu(0x00, 0xC0, 0x00, 0x00, std::nullopt, length); }

// Receive room for an answer of Le bytes; a 6C00 answer (256 bytes) gets room for all of them.
unsigned roomForLe(uint8_t le) { return Apdu(0, 0, 0, 0, std::nullopt, le).expectedResponseLength(); }

}  // namespace

PcscExcepion::PcscExcepion(LONG code, ThrowSite site)
    : ApplicationException(site), code_(static_cast<int32_t>(code)), message_(pcscErrorText(code_))
{
}

Scard::Scard(PcscApi& api, const std::string& readerName) : api_(api)
{
    if (LONG result = api_.establishContext(context_); result != SCARD_S_SUCCESS)
        throw PcscExcepion(result, KV_THROW_SITE);
    const LONG result =
        api_.connect(context_, readerName, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card_, activeProtocol_);
    if (result != SCARD_S_SUCCESS) {
        api_.releaseContext(context_);
        throw PcscExcepion(result, KV_THROW_SITE);
    }
}

Scard::~Scard()
{
    if (card_)
        api_.disconnect(card_);
    api_.releaseContext(context_);
}

LONG Scard::getAtr(Bytes& atr)
{
    if (!card_)
        return SCARD_E_INVALID_HANDLE;
    DWORD length = atr.size();
    const LONG result = api_.status(card_, atr.data(), length);
    if (result == SCARD_S_SUCCESS)
        atr.resize(length);
    return result;
}

ApduResponse Scard::sendApdu(const Apdu& apdu)
{
    Bytes command = apdu.encode();
    bool leSent = apdu.le().has_value();
    if (activeProtocol_ == SCARD_PROTOCOL_T0 && apdu.isoCase() == 4) {
        // T=0 cannot carry Le after data: the card announces its answer with 61xx.
        command.pop_back();
        leSent = false;
    }
    ApduResponse response;
    response.data.resize(apdu.expectedResponseLength());
    response.sw = exchange(command, response.data, leSent);

    for (int part = 0; part < kMaxChainedParts && sw1(response.sw) == kSw1MoreData; ++part) {
        const Apdu next = getResponse(sw2(response.sw));
        Bytes nextCommand = next.encode();
        Bytes nextData(next.expectedResponseLength());
        response.sw = exchange(nextCommand, nextData, true);
        response.data.insert(response.data.end(), nextData.begin(), nextData.end());
    }
    return response;
}

uint16_t Scard::exchange(Bytes& command, Bytes& answer, bool leSent)
{
    transmit(command, answer);
    uint16_t sw = cutApduRetcode(answer);
    // Only an Le byte may be replaced: a command sent without one would lose
    // its last data byte, so its 6Cxx answer goes back to the caller as it is.
    if (leSent && sw1(sw) == kSw1WrongLength) {
        command.back() = sw2(sw);
        answer.assign(roomForLe(sw2(sw)), 0);
        transmit(command, answer);
        sw = cutApduRetcode(answer);
    }
    return sw;
}

void Scard::transmit(const Bytes& command, Bytes& response)
{
    DWORD received = 0;
    safeTransmit([&] {
        received = response.size();
        return api_.transmit(card_, protocolToIoReq(), command.data(), command.size(), response.data(), received);
    });
    response.resize(received);
}

void Scard::safeTransmit(const std::function<LONG()>& operation)
{
    // A connection given up after a failed reset recovery has no card any more.
    if (!card_)
        throw PcscExcepion(SCARD_E_INVALID_HANDLE, KV_THROW_SITE);
    LONG result = operation();
    if (result == SCARD_S_SUCCESS)
        return;
    if (result != SCARD_W_RESET_CARD)
        throw PcscExcepion(result, KV_THROW_SITE);
    for (int attempt = 0; attempt < kResetRecoveryAttempts && result == SCARD_W_RESET_CARD; ++attempt) {
        DWORD protocol = activeProtocol_;
        result = api_.reconnect(card_, activeProtocol_, protocol);
        if (result != SCARD_S_SUCCESS)
            break;
        activeProtocol_ = protocol;
        result = operation();
    }
    if (result == SCARD_S_SUCCESS)
        return;
    api_.disconnect(card_);
    card_ = 0;
    throw PcscExcepion(result, KV_THROW_SITE);
}

uint16_t Scard::cutApduRetcode(Bytes& answer)
{
    if (answer.size() < 2)
        throw PcscExcepion(SCARD_E_UNEXPECTED, KV_THROW_SITE);
    const auto sw = static_cast<uint16_t>(bigEndian(ByteView(answer).last(2)));
    answer.resize(answer.size() - 2);
    return sw;
}

const SCARD_IO_REQUEST* Scard::protocolToIoReq() const
{
    switch (activeProtocol_) {
    case SCARD_PROTOCOL_T0:
        return SCARD_PCI_T0;
    case SCARD_PROTOCOL_T1:
        return SCARD_PCI_T1;
    case SCARD_PROTOCOL_RAW:
        return SCARD_PCI_RAW;
    }
    throw PcscExcepion(SCARD_E_UNEXPECTED, KV_THROW_SITE);
}
