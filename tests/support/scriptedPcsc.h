#pragma once

#include "fakeFlashLibrary.h"
#include "hex.h"
#include "pcscWrapper/pcscApi.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A card that answers by rules: the first rule whose command prefix matches
// the sent bytes gives its next answer (data then SW1 SW2). A rule with
// several answers gives them in turn and then keeps repeating the last one.
// Unmatched commands are answered 6D 00.
class ScriptedCard {
public:
    ScriptedCard& on(const std::string& commandPrefixHex, std::vector<std::string> answersHex);
    ScriptedCard& on(const std::string& commandPrefixHex, const std::string& answerHex)
    {
        return on(commandPrefixHex, std::vector<std::string>{answerHex});
    }
    Bytes answer(const Bytes& command);

    std::vector<Bytes> received;  // every command in arrival order

private:
    struct Rule {
        Bytes prefix;
        std::vector<Bytes> answers;
        size_t next = 0;
    };
    std::vector<Rule> rules_;
};

// A scripted PC/SC service: readers with or without a scripted card.
class ScriptedPcsc : public PcscApi {
public:
    struct Reader {
        std::string name;
        std::optional<ScriptedCard> card;  // none: the reader is empty
        Bytes atr;
        DWORD protocol = SCARD_PROTOCOL_T1;
    };

    // Adds a reader and returns its card (to script) when it has one.
    ScriptedCard& addReader(const std::string& name, const Bytes& atr, DWORD protocol = SCARD_PROTOCOL_T1);
    void addEmptyReader(const std::string& name);
    ScriptedCard& card(size_t readerIndex) { return *readers[readerIndex].card; }

    // Results that the next transmit calls return instead of reaching the card
    // (for example SCARD_W_RESET_CARD); likewise for reconnect.
    std::deque<LONG> transmitFailures;
    std::deque<LONG> reconnectFailures;
    LONG establishResult = SCARD_S_SUCCESS;
    LONG listResult = SCARD_S_SUCCESS;

    // What the caller handed to one transmit that reached a card.
    struct Transmit {
        DWORD sendProtocol;  // from the send header
        DWORD receiveRoom;   // response length on entry
    };

    std::vector<Reader> readers;
    // The flash-token library of the same host; it knows no token unless told.
    FakeFlashLibrary flash;
    std::vector<std::string> connectedReaders;  // every connect attempt, in order
    std::vector<Transmit> transmits;            // in order, across all cards
    int reconnects = 0;
    int disconnects = 0;
    int openContexts = 0;

    LONG establishContext(SCARDCONTEXT& context) override;
    LONG releaseContext(SCARDCONTEXT context) override;
    LONG listReaders(SCARDCONTEXT context, char* names, DWORD& length) override;
    LONG connect(SCARDCONTEXT context, const std::string& reader, DWORD preferredProtocols,
                 SCARDHANDLE& card, DWORD& activeProtocol) override;
    LONG reconnect(SCARDHANDLE card, DWORD preferredProtocols, DWORD& activeProtocol) override;
    LONG disconnect(SCARDHANDLE card) override;
    LONG status(SCARDHANDLE card, uint8_t* atr, DWORD& atrLength) override;
    LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, const uint8_t* command,
                  DWORD commandLength, uint8_t* response, DWORD& responseLength) override;

private:
    Reader* readerOf(SCARDHANDLE card);
};
