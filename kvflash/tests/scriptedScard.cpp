#include "scriptedScard.h"

#include <algorithm>
#include <stdexcept>

namespace kvfl::test {

ScriptedScard& ScriptedScard::on(std::string_view commandPrefix, std::vector<std::string> answers)
{
    Rule rule{hex(commandPrefix), {}};
    for (const std::string& answer : answers)
        rule.answers.push_back(hex(answer));
    rules_.push_back(std::move(rule));
    return *this;
}

ScriptedScard& ScriptedScard::withSerial(uint64_t serial)
{
    Bytes answer;
    appendBigEndian(answer, serial, 8);
    appendBigEndian(answer, 0x9000, 2);
    Rule rule{hex("00 CA 01 81"), {answer}};
    rules_.push_back(std::move(rule));
    return *this;
}

Response ScriptedScard::transmit(const Apdu& apdu)
{
    const Bytes command = apdu.encode();
    sent_.push_back({command, lockDepth_});
    if (onTransmit)
        onTransmit(command);
    for (Rule& rule : rules_) {
        if (command.size() < rule.prefix.size() || !std::equal(rule.prefix.begin(), rule.prefix.end(), command.begin()))
            continue;
        const Bytes& answer = rule.answers[std::min(rule.next, rule.answers.size() - 1)];
        ++rule.next;
        return {static_cast<uint16_t>(readBigEndian(std::span(answer).last(2))), Bytes(answer.begin(), answer.end() - 2)};
    }
    return {0x6D00, {}};
}

void ScriptedScard::swap(Scard& other)
{
    auto* scripted = dynamic_cast<ScriptedScard*>(&other);
    if (!scripted)
        throw std::runtime_error("Cannot swap Scard: incompatible implementation type");
    // The log stays: it is what the test reads of this object.
    std::swap(rules_, scripted->rules_);
    std::swap(lockDepth_, scripted->lockDepth_);
    std::swap(reader_, scripted->reader_);
}

bool ScriptedScard::received(std::string_view commandPrefix) const
{
    const Bytes prefix = hex(commandPrefix);
    return std::ranges::any_of(sent_, [&](const Sent& sent) {
        return sent.command.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), sent.command.begin());
    });
}

void ScriptedEnumerator::addRound(std::vector<std::shared_ptr<Scard>> cards)
{
    rounds_.push_back([cards] { return cards; });
}

std::vector<std::shared_ptr<Scard>> ScriptedEnumerator::enumScards()
{
    ++calls_;
    return nextRound();
}

std::shared_ptr<Scard> ScriptedEnumerator::connectTo(const PcscString& reader)
{
    directConnections_.push_back(reader);
    for (std::shared_ptr<Scard>& card : nextRound())
        if (card->reader() == reader)
            return card;
    return nullptr;
}

std::vector<std::shared_ptr<Scard>> ScriptedEnumerator::nextRound()
{
    if (rounds_.empty())
        return {};
    const Round round = rounds_.front();
    if (rounds_.size() > 1)
        rounds_.pop_front();
    return round();
}

}  // namespace kvfl::test
