#include "pcscWrapper/pcscApi.h"

namespace {

// pcsc-lite: reader names are UTF-8 and there are no wide-character calls.
class PcscLite : public PcscApi {
public:
    LONG establishContext(SCARDCONTEXT& context) override
    {
        return SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    }

    LONG releaseContext(SCARDCONTEXT context) override { return SCardReleaseContext(context); }

    LONG listReaders(SCARDCONTEXT context, char* names, DWORD& length) override
    {
        return SCardListReaders(context, nullptr, names, &length);
    }

    LONG connect(SCARDCONTEXT context, const std::string& reader, DWORD preferredProtocols,
                 SCARDHANDLE& card, DWORD& activeProtocol) override
    {
        return SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, preferredProtocols, &card,
                            &activeProtocol);
    }

    LONG reconnect(SCARDHANDLE card, DWORD preferredProtocols, DWORD& activeProtocol) override
    {
        return SCardReconnect(card, SCARD_SHARE_SHARED, preferredProtocols, SCARD_LEAVE_CARD, &activeProtocol);
    }

    LONG disconnect(SCARDHANDLE card) override { return SCardDisconnect(card, SCARD_LEAVE_CARD); }

    LONG status(SCARDHANDLE card, uint8_t* atr, DWORD& atrLength) override
    {
        return SCardStatus(card, nullptr, nullptr, nullptr, nullptr, atr, &atrLength);
    }

    LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, const uint8_t* command,
                  DWORD commandLength, uint8_t* response, DWORD& responseLength) override
    {
        return SCardTransmit(card, sendPci, command, commandLength, nullptr, response, &responseLength);
    }
};

}  // namespace

PcscApi& systemPcsc()
{
    static PcscLite pcsc;
    return pcsc;
}
