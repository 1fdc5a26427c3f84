#include "scriptedPcsc.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

ScriptedCard& ScriptedCard::on(const std::string& commandPrefixHex, std::vector<std::string> answersHex)
{
    Rule rule{hexBytes(commandPrefixHex), {}, 0};
    for (const auto& answer : answersHex)
        rule.answers.push_back(hexBytes(answer));
    rules_.insert(rules_.begin(), std::move(rule));  // later rules override earlier ones
    return *this;
}

Bytes ScriptedCard::answer(const Bytes& command)
{
    received.push_back(command);
    for (auto& rule : rules_) {
        if (command.size() < rule.prefix.size() ||
            !std::equal(rule.prefix.begin(), rule.prefix.end(), command.begin()))
            continue;
        const Bytes& answer = rule.answers[rule.next];
        if (rule.next + 1 < rule.answers.size())
            ++rule.next;
        return answer;
    }
    return {0x6D, 0x00};
}

namespace {
// Card handles are reader index + 1.
constexpr SCARDHANDLE handleOf(size_t index) { return static_cast<SCARDHANDLE>(index + 1); }
}  // namespace

ScriptedCard& ScriptedPcsc::addReader(const std::string& name, const Bytes& atr, DWORD protocol)
{
    readers.push_back(Reader{name, ScriptedCard{}, atr, protocol});
    return *readers.back().card;
}

void ScriptedPcsc::addEmptyReader(const std::string& name)
{
    readers.push_back(Reader{name, std::nullopt, {}, 0});
}

LONG ScriptedPcsc::establishContext(SCARDCONTEXT& context)
{
    if (establishResult != SCARD_S_SUCCESS)
        return establishResult;
    context = static_cast<SCARDCONTEXT>(++openContexts);
    return SCARD_S_SUCCESS;
}

LONG ScriptedPcsc::releaseContext(SCARDCONTEXT)
{
    --openContexts;
    return SCARD_S_SUCCESS;
}

LONG ScriptedPcsc::listReaders(SCARDCONTEXT, char* names, DWORD& length)
{
    if (listResult != SCARD_S_SUCCESS)
        return listResult;
    if (readers.empty())
        return SCARD_E_NO_READERS_AVAILABLE;
    std::string multi;
    for (const auto& reader : readers)
        multi += reader.name + '\0';
    multi += '\0';
    if (names) {
        if (length < multi.size())
            return SCARD_E_INSUFFICIENT_BUFFER;
        std::memcpy(names, multi.data(), multi.size());
    }
    length = static_cast<DWORD>(multi.size());
    return SCARD_S_SUCCESS;
}

LONG ScriptedPcsc::connect(SCARDCONTEXT, const std::string& name, DWORD, SCARDHANDLE& card,
                           DWORD& activeProtocol)
{
    connectedReaders.push_back(name);
    for (size_t i = 0; i < readers.size(); ++i) {
        if (readers[i].name != name)
            continue;
        if (!readers[i].card)
            return SCARD_E_NO_SMARTCARD;
        card = handleOf(i);
        activeProtocol = readers[i].protocol;
        return SCARD_S_SUCCESS;
    }
    return SCARD_E_UNKNOWN_READER;
}

LONG ScriptedPcsc::reconnect(SCARDHANDLE card, DWORD, DWORD& activeProtocol)
{
    ++reconnects;
    if (!reconnectFailures.empty()) {
        LONG result = reconnectFailures.front();
        reconnectFailures.pop_front();
        return result;
    }
    activeProtocol = readerOf(card)->protocol;
    return SCARD_S_SUCCESS;
}

LONG ScriptedPcsc::disconnect(SCARDHANDLE)
{
    ++disconnects;
    return SCARD_S_SUCCESS;
}

LONG ScriptedPcsc::status(SCARDHANDLE card, uint8_t* atr, DWORD& atrLength)
{
    const Bytes& bytes = readerOf(card)->atr;
    if (atrLength < bytes.size())
        return SCARD_E_INSUFFICIENT_BUFFER;
    std::copy(bytes.begin(), bytes.end(), atr);
    atrLength = static_cast<DWORD>(bytes.size());
    return SCARD_S_SUCCESS;
}

LONG ScriptedPcsc::transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, const uint8_t* command,
                            DWORD commandLength, uint8_t* response, DWORD& responseLength)
{
    if (!transmitFailures.empty()) {
        LONG result = transmitFailures.front();
        transmitFailures.pop_front();
        return result;
    }
    transmits.push_back(Transmit{sendPci->dwProtocol, responseLength});
    Bytes answer = readerOf(card)->card->answer(Bytes(command, command + commandLength));
    if (answer.size() > responseLength)
        return SCARD_E_INSUFFICIENT_BUFFER;
    std::copy(answer.begin(), answer.end(), response);
    responseLength = static_cast<DWORD>(answer.size());
    return SCARD_S_SUCCESS;
}

ScriptedPcsc::Reader* ScriptedPcsc::readerOf(SCARDHANDLE card)
{
    const size_t index = static_cast<size_t>(card) - 1;
    if (card == 0 || index >= readers.size() || !readers[index].card)
        throw std::logic_error("scripted PC/SC: unknown card handle");
    return &readers[index];
}
