#pragma once

#include "card.h"

#include <random>
#include <string_view>

namespace kvtoken {

// How a hostile card bends one answer (emulator/README.md, "Hostile mode").
enum class Distortion {
    none,              // the token's own answer
    statusWord,        // the token's data under another status word
    length,            // the token's data cut or padded to 0..258 bytes
    truncatedTlv,      // the data cut inside one of its TLVs
    lengthPastEnd,     // a TLV length that runs past the end of the data
    longLengthForm,    // a TLV length rewritten as 81, 82, 84, 85 or 89 and bytes
    changedByte,       // one byte of the data changed
    noise,             // random data under a random status word
    wrongLengthStorm,  // 6Cxx, and 6Cxx again to every retry with that Le
    responseStorm,     // 61xx, and a GET RESPONSE chain that never ends
    endlessWalk,       // every SELECT succeeds, each folder entry a new one
    endlessJournal,    // the journal goes round and never ends with 6B00
    vanish,            // closes the connection instead of answering
    restart,           // answers, then leaves the reader and comes back
    atr,               // a cut, changed or random ATR
};

std::string_view distortionName(Distortion distortion);

// Answers as only a broken token would: every answer is drawn from a
// generator seeded with `seed`, so the same seed and the same messages give
// the same answers. `ratePercent` of the answers are distorted (without it,
// a rate drawn from the seed); most distortions are the token's own answer
// with one flaw, so that the host gets deep into its work; some are pure
// noise. The answer data never exceeds 258 bytes.
class HostileCard : public CardInReader {
public:
    HostileCard(TokenProfile profile, uint64_t seed, std::optional<unsigned> ratePercent = std::nullopt);
    HostileCard(const HostileCard&) = delete;  // the token's stand-in points here
    HostileCard& operator=(const HostileCard&) = delete;

    std::optional<Bytes> receive(const Bytes& message) override;
    std::optional<std::chrono::milliseconds> takeDeparture() override;
    void unplug() override;

    // What the last message's answer went through.
    Distortion lastDistortion() const { return last_; }
    unsigned ratePercent() const { return ratePercent_; }

private:
    struct Storm {
        Distortion kind;  // wrongLengthStorm or responseStorm
        Bytes header;     // CLA INS P1 P2 of the command a 6Cxx storm answers
    };

    std::optional<Bytes> answer(const Bytes& command);
    std::optional<Bytes> continueStorm(const Bytes& command);
    bool continuesEndlessMode(const Bytes& command);
    Bytes startStorm(Distortion kind, const Bytes& command);
    Bytes distorted(Distortion kind, Bytes answer);
    Bytes hostileAtr();
    std::optional<Reply> standIn(const CommandApdu& command);
    Reply endlessSelect(const CommandApdu& command);
    Reply endlessJournalPortion(const CommandApdu& command);
    void forgetModes();

    size_t below(size_t bound);  // 0 .. bound-1
    uint8_t randomByte();
    Bytes randomBytes(size_t count);
    uint16_t randomStatusWord();

    Bytes journal_;  // what an endless journal repeats
    Card card_;
    std::mt19937_64 random_;
    unsigned ratePercent_;
    Distortion last_ = Distortion::none;
    std::optional<Storm> storm_;
    bool endlessWalk_ = false;
    bool endlessJournal_ = false;
    uint16_t nextWalkId_ = 0x0101;
    size_t journalPosition_ = 0;
    std::optional<std::chrono::milliseconds> departure_;
};

}  // namespace kvtoken
