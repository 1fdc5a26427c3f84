// A smart-card service with scripted readers and cards: the commands a test
// expects to be sent, the answers the card gives, and a record of every
// PC/SC call the library made.
#pragma once

#include "bytes.h"
#include "pcscApi.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace kvfl::test {

struct ScriptedReader {
    std::string name;
    Bytes atr;  // empty: no card in the reader
    DWORD protocol = SCARD_PROTOCOL_T1;
    uint32_t connectResult = SCARD_S_SUCCESS;
};

// One answer of the card, or the PC/SC failure of that exchange.
struct Answer {
    Bytes bytes;
    uint32_t result = SCARD_S_SUCCESS;
};

struct Sent {
    SCARDHANDLE card;
    const SCARD_IO_REQUEST* pci;
    Bytes command;
    std::size_t bufferSize;
};

class ScriptedPcsc : public PcscApi {
public:
    std::vector<ScriptedReader> readers;
    std::deque<Answer> answers;
    std::deque<uint32_t> reconnectResults;  // default: success
    std::deque<uint32_t> beginResults;      // default: success
    uint32_t establishResult = SCARD_S_SUCCESS;
    DWORD reconnectProtocol = SCARD_PROTOCOL_T1;

    std::vector<Sent> sent;
    std::vector<std::string> calls;  // "begin", "end", "reconnect", "disconnect", "transmit"
    std::vector<std::string> connects;  // the readers, in the order of the attempts
    int openContexts = 0;
    int connected = 0;

    uint32_t establishContext(SCARDCONTEXT& context) override {
        if (establishResult != SCARD_S_SUCCESS) return establishResult;
        context = ++contextCounter_;
        ++openContexts;
        return SCARD_S_SUCCESS;
    }

    uint32_t releaseContext(SCARDCONTEXT) override {
        --openContexts;
        return SCARD_S_SUCCESS;
    }

    uint32_t listReaders(SCARDCONTEXT, char* buffer, DWORD& length) override {
        if (readers.empty()) return static_cast<uint32_t>(SCARD_E_NO_READERS_AVAILABLE);
        std::string multiString;
        for (const ScriptedReader& reader : readers) multiString += reader.name + '\0';
        multiString += '\0';
        if (buffer) {
            if (length < multiString.size()) return static_cast<uint32_t>(SCARD_E_INSUFFICIENT_BUFFER);
            std::memcpy(buffer, multiString.data(), multiString.size());
        }
        length = static_cast<DWORD>(multiString.size());
        return SCARD_S_SUCCESS;
    }

    // A wait without time reads the readers as they are; each wait with time
    // finds the next change (a result, and the new state of the readers it
    // names), or SCARD_E_TIMEOUT when none is left.
    struct Change {
        uint32_t result = SCARD_S_SUCCESS;
        std::vector<std::pair<std::string, DWORD>> states;
    };
    std::deque<Change> changes;
    std::vector<DWORD> waitTimeouts;

    uint32_t waitForChange(SCARDCONTEXT, std::vector<SCARD_READERSTATE>& states, DWORD timeoutMs) override {
        waitTimeouts.push_back(timeoutMs);
        if (timeoutMs == 0) {
            for (SCARD_READERSTATE& state : states) {
                if (static_cast<std::size_t>(index(state.szReader)) < readers.size())
                    state.dwEventState = SCARD_STATE_CHANGED | presence(find(state.szReader));
                else  // the reader list: its count in the high word
                    state.dwEventState = SCARD_STATE_CHANGED | static_cast<DWORD>(readers.size() << 16);
            }
            return SCARD_S_SUCCESS;
        }
        if (changes.empty()) return static_cast<uint32_t>(SCARD_E_TIMEOUT);
        const Change change = changes.front();
        changes.pop_front();
        for (SCARD_READERSTATE& state : states) {
            state.dwEventState = state.dwCurrentState;
            for (const auto& [name, newState] : change.states)
                if (name == state.szReader) state.dwEventState = newState | SCARD_STATE_CHANGED;
        }
        return change.result;
    }

    // A reader without a card refuses a connection, as pcscd's do.
    uint32_t connect(SCARDCONTEXT, const std::string& name, DWORD, SCARDHANDLE& card, DWORD& protocol) override {
        connects.push_back(name);
        const ScriptedReader& reader = find(name);
        if (reader.connectResult != SCARD_S_SUCCESS) return reader.connectResult;
        if (reader.atr.empty()) return static_cast<uint32_t>(SCARD_E_NO_SMARTCARD);
        card = index(name) + 1;
        protocol = reader.protocol;
        ++connected;
        return SCARD_S_SUCCESS;
    }

    uint32_t reconnect(SCARDHANDLE, DWORD, DWORD& protocol) override {
        calls.push_back("reconnect");
        protocol = reconnectProtocol;
        return next(reconnectResults);
    }

    uint32_t disconnect(SCARDHANDLE) override {
        calls.push_back("disconnect");
        --connected;
        return SCARD_S_SUCCESS;
    }

    uint32_t beginTransaction(SCARDHANDLE card) override {
        calls.push_back("begin");
        if (card == 0) return static_cast<uint32_t>(SCARD_E_INVALID_HANDLE);
        return next(beginResults);
    }

    uint32_t endTransaction(SCARDHANDLE) override {
        calls.push_back("end");
        return SCARD_S_SUCCESS;
    }

    uint32_t readAtr(SCARDHANDLE card, uint8_t* atr, DWORD& length) override {
        const Bytes& bytes = readers.at(card - 1).atr;
        if (length < bytes.size()) return static_cast<uint32_t>(SCARD_E_INSUFFICIENT_BUFFER);
        std::ranges::copy(bytes, atr);
        length = static_cast<DWORD>(bytes.size());
        return SCARD_S_SUCCESS;
    }

    uint32_t transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* pci, const uint8_t* command, DWORD commandLength,
                      uint8_t* response, DWORD& responseLength) override {
        calls.push_back("transmit");
        if (card == 0) return static_cast<uint32_t>(SCARD_E_INVALID_HANDLE);
        sent.push_back({card, pci, Bytes(command, command + commandLength), responseLength});
        if (answers.empty()) return static_cast<uint32_t>(SCARD_E_NOT_TRANSACTED);
        const Answer answer = answers.front();
        answers.pop_front();
        if (answer.result != SCARD_S_SUCCESS) return answer.result;
        // a real service refuses an answer that does not fit the buffer
        if (answer.bytes.size() > responseLength) return static_cast<uint32_t>(SCARD_E_INSUFFICIENT_BUFFER);
        std::ranges::copy(answer.bytes, response);
        responseLength = static_cast<DWORD>(answer.bytes.size());
        return SCARD_S_SUCCESS;
    }

    int count(const std::string& call) const { return static_cast<int>(std::ranges::count(calls, call)); }

private:
    static uint32_t next(std::deque<uint32_t>& results) {
        if (results.empty()) return SCARD_S_SUCCESS;
        const uint32_t result = results.front();
        results.pop_front();
        return result;
    }

    static DWORD presence(const ScriptedReader& reader) {
        return reader.atr.empty() ? SCARD_STATE_EMPTY : SCARD_STATE_PRESENT;
    }

    SCARDHANDLE index(const std::string& name) const {
        auto found = std::ranges::find(readers, name, &ScriptedReader::name);
        return static_cast<SCARDHANDLE>(found - readers.begin());
    }

    const ScriptedReader& find(const std::string& name) const { return readers.at(index(name)); }

    SCARDCONTEXT contextCounter_ = 0;
};

}  // namespace kvfl::test
