#pragma once

#include "pcscWrapper/apdu.h"
#include "pcscWrapper/pcscApi.h"
#include "utils/applicationException.h"

#include <cstdint>
#include <functional>
#include <string>

// A PC/SC failure. pcsc-lite keeps its 32-bit result codes in a 64-bit LONG,
// so the code is narrowed to its signed 32-bit value here, once.
class PcscExcepion : public ApplicationException {
public:
    PcscExcepion(LONG code, ThrowSite site);
    int32_t code() const noexcept { return code_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int32_t code_;
    std::string message_;
};

// The tool's connection to the card in one reader. Hides T=0 case-4 handling,
// the 6Cxx retry, 61xx chaining and recovery from a card reset.
class Scard {
public:
    Scard(PcscApi& api, const std::string& readerName);
    explicit Scard(const std::string& readerName) : Scard(systemPcsc(), readerName) {}
    ~Scard();
    Scard(const Scard&) = delete;
    Scard& operator=(const Scard&) = delete;

    // Fills atr (its size is the room on entry) and returns the PC/SC code; never throws.
    LONG getAtr(Bytes& atr);
    ApduResponse sendApdu(const Apdu& apdu);

private:
    void transmit(const Bytes& command, Bytes& response);
    void safeTransmit(const std::function<LONG()>& operation);
    uint16_t cutApduRetcode(Bytes& answer);
    const SCARD_IO_REQUEST* protocolToIoReq() const;
    // One command and its answer; when Le went out, a 6Cxx answer makes it go
    // once more with the exact length. Returns the status word cut from answer.
    uint16_t exchange(Bytes& command, Bytes& answer, bool leSent);

    PcscApi& api_;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    DWORD activeProtocol_ = 0;
};
