#pragma once

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <cstdint>
#include <string>

// Every PC/SC call of the tool goes through this seam, so unit tests can
// drive a scripted card without pcscd. Share mode is always shared, the scope
// always system and disconnects always leave the card.
class PcscApi {
public:
    virtual ~PcscApi() = default;

    virtual LONG establishContext(SCARDCONTEXT& context) = 0;
    virtual LONG releaseContext(SCARDCONTEXT context) = 0;
    // With names null only the length of the reader multi-string is returned.
    virtual LONG listReaders(SCARDCONTEXT context, char* names, DWORD& length) = 0;
    virtual LONG connect(SCARDCONTEXT context, const std::string& reader, DWORD preferredProtocols,
                         SCARDHANDLE& card, DWORD& activeProtocol) = 0;
    virtual LONG reconnect(SCARDHANDLE card, DWORD preferredProtocols, DWORD& activeProtocol) = 0;
    virtual LONG disconnect(SCARDHANDLE card) = 0;
    // Only the ATR is asked for; atrLength is its room on entry.
    virtual LONG status(SCARDHANDLE card, uint8_t* atr, DWORD& atrLength) = 0;
    virtual LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, const uint8_t* command,
                          DWORD commandLength, uint8_t* response, DWORD& responseLength) = 0;
};

// The process's real PC/SC service (pcsc-lite).
PcscApi& systemPcsc();
