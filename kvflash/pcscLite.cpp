// The smart-card service of Linux: pcsc-lite. Its result codes are 32-bit
// values kept in a 64-bit LONG; they leave this file as uint32_t.
#include "pcscApi.h"

namespace kvfl {
namespace {

uint32_t result(LONG rc) { return static_cast<uint32_t>(rc); }

class PcscLite : public PcscApi {
public:
    uint32_t establishContext(SCARDCONTEXT& context) override {
        return result(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context));
    }

    uint32_t releaseContext(SCARDCONTEXT context) override { return result(SCardReleaseContext(context)); }

    uint32_t listReaders(SCARDCONTEXT context, char* buffer, DWORD& length) override {
        return result(SCardListReaders(context, nullptr, buffer, &length));
    }

    uint32_t waitForChange(SCARDCONTEXT context, std::vector<SCARD_READERSTATE>& states, DWORD timeoutMs) override {
        return result(SCardGetStatusChange(context, timeoutMs, states.data(), static_cast<DWORD>(states.size())));
    }

    uint32_t connect(SCARDCONTEXT context, const std::string& reader, DWORD preferredProtocols, SCARDHANDLE& card,
                     DWORD& activeProtocol) override {
        return result(
            SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, preferredProtocols, &card, &activeProtocol));
    }

    uint32_t reconnect(SCARDHANDLE card, DWORD preferredProtocols, DWORD& activeProtocol) override {
        return result(SCardReconnect(card, SCARD_SHARE_SHARED, preferredProtocols, SCARD_LEAVE_CARD, &activeProtocol));
    }

    uint32_t disconnect(SCARDHANDLE card) override { return result(SCardDisconnect(card, SCARD_LEAVE_CARD)); }

    uint32_t beginTransaction(SCARDHANDLE card) override { return result(SCardBeginTransaction(card)); }

    uint32_t endTransaction(SCARDHANDLE card) override { return result(SCardEndTransaction(card, SCARD_LEAVE_CARD)); }

    uint32_t readAtr(SCARDHANDLE card, uint8_t* atr, DWORD& length) override {
        return result(SCardStatus(card, nullptr, nullptr, nullptr, nullptr, atr, &length));
    }

    uint32_t transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* pci, const uint8_t* command, DWORD commandLength,
                      uint8_t* response, DWORD& responseLength) override {
        return result(SCardTransmit(card, pci, command, commandLength, nullptr, response, &responseLength));
    }
};

}  // namespace

std::shared_ptr<PcscApi> systemPcsc() {
    static const std::shared_ptr<PcscApi> pcsc = std::make_shared<PcscLite>();
    return pcsc;
}

}  // namespace kvfl
