#pragma once

#include "token.h"

namespace kvtoken {

enum class Protocol { T0, T1 };

// T=1 when an interface byte TDi offers it, T=0 otherwise (also when the
// ATR ends before the bytes it announces).
Protocol protocolOfAtr(const Bytes& atr);

// What the reader talks to: the token behind its transport. It answers the
// reader's control messages, plays a profile's overrides, and shapes the
// token's replies for the protocol: on T=0 a command without Le gets 61xx
// and its data through GET RESPONSE, and an Le that does not fit the answer
// gets 6Cxx; on T=1 only an Le too small for the answer gets 6Cxx.
class Card {
public:
    explicit Card(TokenProfile profile);

    // One message from vpcd: 00 power off, 01 power on, 02 reset, 04 ATR
    // request (the only control with an answer), anything longer a command.
    std::optional<Bytes> receive(const Bytes& message);
    Bytes transmit(const Bytes& command);

    // True once after the token answered the host's restart request: the
    // link then removes the card, waits and inserts it again.
    bool takeRestartRequest() { return token_.takeRestartRequest(); }
    // The card leaves the reader: its power goes.
    void unplug();

    const Bytes& atr() const { return atr_; }
    Protocol protocol() const { return protocol_; }

private:
    std::optional<Bytes> overrideFor(const Bytes& command);
    Bytes shape(const CommandApdu& command, Reply reply);
    Bytes getResponse(const CommandApdu& command);

    Bytes atr_;
    Protocol protocol_;
    std::vector<Override> overrides_;
    Token token_;
    Bytes pendingResponse_;
};

}  // namespace kvtoken
