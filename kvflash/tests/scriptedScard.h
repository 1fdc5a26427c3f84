// Scripted stand-ins for the card layer: cards that answer by rules, a
// changing set of present cards, and a clock that only moves when slept on.
#pragma once

#include "clock.h"
#include "hexBytes.h"
#include "scard.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kvfl::test {

// The first rule whose command prefix matches the sent bytes gives its next
// answer (data, then SW1 SW2); a rule's last answer repeats. Unmatched
// commands get 6D00.
class ScriptedScard : public Scard {
public:
    struct Sent {
        Bytes command;
        int lockDepth;  // transactions open while it was sent
    };

    ScriptedScard& on(std::string_view commandPrefix, std::vector<std::string> answers);
    ScriptedScard& on(std::string_view commandPrefix, const std::string& answer)
    {
        return on(commandPrefix, std::vector<std::string>{answer});
    }
    // GET DATA of the serial.
    ScriptedScard& withSerial(uint64_t serial);

    Response transmit(const Apdu& apdu) override;
    void lock() override { ++lockDepth_; }
    void unlock() override { --lockDepth_; }
    void swap(Scard& other) override;
    const PcscString& reader() const override { return reader_; }
    ScriptedScard& in(PcscString reader)
    {
        reader_ = std::move(reader);
        return *this;
    }

    const std::vector<Sent>& sent() const { return sent_; }
    bool received(std::string_view commandPrefix) const;
    int lockDepth() const { return lockDepth_; }
    // Called with each command before it is answered.
    std::function<void(const Bytes&)> onTransmit;

private:
    struct Rule {
        Bytes prefix;
        std::vector<Bytes> answers;
        std::size_t next = 0;
    };
    std::vector<Rule> rules_;
    std::vector<Sent> sent_;
    int lockDepth_ = 0;
    PcscString reader_ = "Reader";
};

// Each look at the readers (enumScards, or connectTo one of them) takes the
// next round of present cards; an empty round is "nothing there". When the
// rounds run out the last one repeats. A round may instead throw, as a
// reader that refuses a connection does.
class ScriptedEnumerator : public ScardEnumerator {
public:
    using Round = std::function<std::vector<std::shared_ptr<Scard>>()>;
    void addRound(std::vector<std::shared_ptr<Scard>> cards);
    void addRoundBy(Round round) { rounds_.push_back(std::move(round)); }
    std::vector<std::shared_ptr<Scard>> enumScards() override;
    std::shared_ptr<Scard> connectTo(const PcscString& reader) override;
    int calls() const { return calls_; }
    // The readers connected to directly, in order.
    const std::vector<PcscString>& directConnections() const { return directConnections_; }

private:
    std::vector<std::shared_ptr<Scard>> nextRound();

    std::deque<Round> rounds_;
    int calls_ = 0;
    std::vector<PcscString> directConnections_;
};

class FakeClock : public Clock {
public:
    TimePoint now() const override { return now_; }
    void sleepFor(std::chrono::milliseconds duration) override
    {
        sleeps.push_back(duration);
        now_ += duration;
    }
    std::chrono::milliseconds elapsed() const { return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - start_); }

    std::vector<std::chrono::milliseconds> sleeps;

private:
    TimePoint start_ = TimePoint{} + std::chrono::hours(1);
    TimePoint now_ = start_;
};

}  // namespace kvfl::test
