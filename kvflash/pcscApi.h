// The few PC/SC calls the library makes, behind one seam so that tests can
// put a scripted card in place of the smart-card service. Result codes are
// the 32-bit PC/SC values (pcsc-lite keeps them in a 64-bit LONG).
#pragma once

#include <PCSC/winscard.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvfl {

class PcscApi {
public:
    virtual ~PcscApi() = default;

    virtual uint32_t establishContext(SCARDCONTEXT& context) = 0;
    virtual uint32_t releaseContext(SCARDCONTEXT context) = 0;
    // Reader names as a multi-string; a null buffer asks only for the length.
    virtual uint32_t listReaders(SCARDCONTEXT context, char* buffer, DWORD& length) = 0;
    // Waits until the state of one of the readers differs from its
    // dwCurrentState, for at most timeoutMs: SCardGetStatusChange.
    virtual uint32_t waitForChange(SCARDCONTEXT context, std::vector<SCARD_READERSTATE>& states,
                                   DWORD timeoutMs) = 0;
    // Shared access.
    virtual uint32_t connect(SCARDCONTEXT context, const std::string& reader, DWORD preferredProtocols,
                             SCARDHANDLE& card, DWORD& activeProtocol) = 0;
    // Shared access, the card left as it is.
    virtual uint32_t reconnect(SCARDHANDLE card, DWORD preferredProtocols, DWORD& activeProtocol) = 0;
    // Disconnect and end a transaction leave the card as it is.
    virtual uint32_t disconnect(SCARDHANDLE card) = 0;
    virtual uint32_t beginTransaction(SCARDHANDLE card) = 0;
    virtual uint32_t endTransaction(SCARDHANDLE card) = 0;
    // Only the ATR; length is the buffer's size in and the ATR's size out.
    virtual uint32_t readAtr(SCARDHANDLE card, uint8_t* atr, DWORD& length) = 0;
    // length is the buffer's size in and the answer's size out.
    virtual uint32_t transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* pci, const uint8_t* command,
                              DWORD commandLength, uint8_t* response, DWORD& responseLength) = 0;
};

// The system's smart-card service.
std::shared_ptr<PcscApi> systemPcsc();

}  // namespace kvfl
