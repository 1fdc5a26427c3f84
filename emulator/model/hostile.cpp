#include "hostile.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace kvtoken {

namespace {

// The most data bytes a hostile answer carries (two past a short answer).
constexpr size_t maxAnswerData = 258;
constexpr size_t maxAtr = 33;

struct Weighted {
    Distortion kind;
    unsigned weight;
};

// How often each distortion is drawn for a command that gets one, as
// weights: mostly the token's own answer with one flaw, so the host gets
// deep into its work.
constexpr Weighted commandDistortions[] = {
    {Distortion::statusWord, 14},
    {Distortion::length, 8},          {Distortion::truncatedTlv, 8},
    {Distortion::lengthPastEnd, 10},  {Distortion::longLengthForm, 8},
    {Distortion::changedByte, 10},    {Distortion::noise, 12},
    {Distortion::wrongLengthStorm, 3}, {Distortion::responseStorm, 3},
    {Distortion::endlessWalk, 3},     {Distortion::endlessJournal, 3},
    {Distortion::vanish, 2},          {Distortion::restart, 2},
};

// The share of answers distorted, in percent, when the command line names
// none: drawn from the seed, so that some seeds let the host finish most of
// its work and others hardly let it begin.
constexpr unsigned distortionRates[] = {1, 3, 10, 30, 60, 100};

// The ATR is distorted at a tenth of the rate of the answers: pcscd asks
// for it again and again, and a host that never sees a usable one never
// gets to the rest.
constexpr size_t atrRateDivisor = 10;

// How long a card that vanished or restarted stays away: 20 ms plus up to
// this many more.
constexpr size_t minAbsenceMs = 20;
constexpr size_t absenceSpreadMs = 281;

// The status words a host treats specially, with the bits drawn at random
// (6Cxx, 61xx, 63Cx; the last entry is any word at all).
struct StatusPattern {
    uint16_t word;
    uint16_t randomBits;
};
constexpr StatusPattern statusPatterns[] = {
    {0x9000, 0x0000}, {0x6C00, 0x00FF}, {0x6100, 0x00FF}, {0x6B00, 0x0000}, {0x6A82, 0x0000},
    {0x6982, 0x0000}, {0x63C0, 0x000F}, {0x6D00, 0x0000}, {0x6700, 0x0000}, {0x6A86, 0x0000},
    {0x6985, 0x0000}, {0x6A88, 0x0000}, {0x6E00, 0x0000}, {0x6F00, 0x0000}, {0x6283, 0x0000},
    {0x0000, 0xFFFF},
};

// BER long length forms: 81, 82 and 84 are legal, 85 and 89 are not.
constexpr uint8_t longLengthForms[] = {0x81, 0x82, 0x84, 0x85, 0x89};

// File kinds an endless walk finds: folder, RSF, EF.
constexpr uint8_t walkFileKinds[] = {0x38, 0x10, 0x01};

struct Named {
    Distortion kind;
    std::string_view name;
};
constexpr Named distortionNames[] = {
    {Distortion::none, "none"},
    {Distortion::statusWord, "status word"},
    {Distortion::length, "length"},
    {Distortion::truncatedTlv, "truncated TLV"},
    {Distortion::lengthPastEnd, "length past the end"},
    {Distortion::longLengthForm, "long length form"},
    {Distortion::changedByte, "changed byte"},
    {Distortion::noise, "noise"},
    {Distortion::wrongLengthStorm, "6Cxx storm"},
    {Distortion::responseStorm, "61xx storm"},
    {Distortion::endlessWalk, "endless directory walk"},
    {Distortion::endlessJournal, "endless journal"},
    {Distortion::vanish, "vanish"},
    {Distortion::restart, "restart"},
    {Distortion::atr, "ATR"},
};

bool isGetResponse(const Bytes& command)
{
    return command.size() >= 2 && command[0] == 0x00 && command[1] == 0xC0;
}

// Where the length bytes of the TLVs the data begins with are, those inside
// constructed tags included. Each step moves forward, so the walk ends.
std::vector<size_t> lengthPositions(const Bytes& data)
{
    std::vector<size_t> positions;
    size_t tag = 0;
    while (tag < data.size()) {
        const bool constructed = data[tag] & 0x20;
        const size_t length = tag + ((data[tag] & 0x1F) == 0x1F ? 2 : 1);
        if (length >= data.size() || data[length] & 0x80)
            break;
        positions.push_back(length);
        tag = length + 1 + (constructed ? 0 : data[length]);
    }
    return positions;
}

}  // namespace

std::string_view distortionName(Distortion distortion)
{
    for (const auto& entry : distortionNames)
        if (entry.kind == distortion)
            return entry.name;
    return "?";
}

HostileCard::HostileCard(TokenProfile profile, uint64_t seed, std::optional<unsigned> ratePercent)
    : journal_(profile.securityJournal.value_or(Bytes{})),
      card_(std::move(profile), seed),
      random_(seed),
      ratePercent_(std::min(100u, ratePercent.value_or(distortionRates[below(std::size(distortionRates))])))
{
    card_.setStandIn([this](const CommandApdu& command) { return standIn(command); });
}

std::optional<Bytes> HostileCard::receive(const Bytes& message)
{
    if (message.size() > 1)
        return answer(message);
    last_ = Distortion::none;
    constexpr uint8_t atrRequest = 0x04;
    if (message.size() == 1 && message[0] == atrRequest) {
        if (below(100 * atrRateDivisor) >= ratePercent_)
            return card_.receive(message);
        last_ = Distortion::atr;
        return hostileAtr();
    }
    forgetModes();  // power off, power on, reset
    return card_.receive(message);
}

std::optional<std::chrono::milliseconds> HostileCard::takeDeparture()
{
    const auto own = std::exchange(departure_, std::nullopt);
    const auto tokens = card_.takeDeparture();
    return tokens ? tokens : own;
}

void HostileCard::unplug()
{
    forgetModes();
    card_.unplug();
}

void HostileCard::forgetModes()
{
    storm_.reset();
    endlessWalk_ = false;
    endlessJournal_ = false;
    journalPosition_ = 0;
}

std::optional<Bytes> HostileCard::answer(const Bytes& command)
{
    if (auto stormy = continueStorm(command))
        return stormy;
    storm_.reset();
    if (continuesEndlessMode(command))
        return card_.transmit(command);
    last_ = Distortion::none;
    if (below(100) >= ratePercent_)
        return card_.transmit(command);
    const unsigned total = std::accumulate(std::begin(commandDistortions), std::end(commandDistortions), 0u,
                                           [](unsigned sum, const Weighted& entry) { return sum + entry.weight; });
    size_t draw = below(total);
    auto chosen = std::begin(commandDistortions);
    while (draw >= chosen->weight)
        draw -= (chosen++)->weight;
    last_ = chosen->kind;
    switch (last_) {
    case Distortion::wrongLengthStorm:
    case Distortion::responseStorm:
        return startStorm(last_, command);
    case Distortion::endlessWalk:
        endlessWalk_ = true;
        return card_.transmit(command);
    case Distortion::endlessJournal:
        endlessJournal_ = true;
        return card_.transmit(command);
    case Distortion::vanish:
        departure_ = std::chrono::milliseconds(minAbsenceMs + below(absenceSpreadMs));
        return std::nullopt;
    case Distortion::restart:
        departure_ = std::chrono::milliseconds(minAbsenceMs + below(absenceSpreadMs));
        return card_.transmit(command);
    default:
        return distorted(last_, card_.transmit(command));
    }
}

// A 6Cxx storm answers every retry of its command with another 6Cxx, a
// 61xx storm every GET RESPONSE with data and another 61xx. Any other
// command ends the storm.
std::optional<Bytes> HostileCard::continueStorm(const Bytes& command)
{
    if (!storm_)
        return std::nullopt;
    if (storm_->kind == Distortion::wrongLengthStorm && command.size() >= storm_->header.size() &&
        std::equal(storm_->header.begin(), storm_->header.end(), command.begin())) {
        last_ = storm_->kind;
        return Bytes{0x6C, randomByte()};
    }
    if (storm_->kind == Distortion::responseStorm && isGetResponse(command)) {
        last_ = storm_->kind;
        const size_t asked = command.size() == 5 ? (command[4] == 0 ? 256 : command[4]) : below(257);
        return withStatus(randomBytes(asked), static_cast<uint16_t>(0x6100 | randomByte()));
    }
    return std::nullopt;
}

// An endless walk or journal answers its commands (and the GET RESPONSE
// after them) cleanly, so the host meets no end other than its own bound.
bool HostileCard::continuesEndlessMode(const Bytes& command)
{
    const bool select = command.size() >= 2 && command[0] == 0x00 && command[1] == 0xA4;
    const bool journalRead = command.size() >= 2 && command[0] == 0x90 && command[1] == 0x5D;
    const bool getResponse = isGetResponse(command);
    if (endlessWalk_ && (select || (getResponse && last_ == Distortion::endlessWalk)))
        last_ = Distortion::endlessWalk;
    else if (endlessJournal_ && (journalRead || (getResponse && last_ == Distortion::endlessJournal)))
        last_ = Distortion::endlessJournal;
    else
        return false;
    return true;
}

Bytes HostileCard::startStorm(Distortion kind, const Bytes& command)
{
    constexpr size_t headerSize = 4;
    storm_ = Storm{kind, Bytes(command.begin(), command.begin() + static_cast<long>(std::min(command.size(), headerSize)))};
    return Bytes{static_cast<uint8_t>(kind == Distortion::wrongLengthStorm ? 0x6C : 0x61), randomByte()};
}

Bytes HostileCard::distorted(Distortion kind, Bytes answer)
{
    uint16_t word = static_cast<uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
    answer.resize(answer.size() - 2);
    Bytes& data = answer;
    const auto positions = lengthPositions(data);
    const bool tlvKind = kind == Distortion::truncatedTlv || kind == Distortion::lengthPastEnd ||
                         kind == Distortion::longLengthForm;
    if ((tlvKind && positions.empty()) || (kind == Distortion::changedByte && data.empty()))
        kind = Distortion::statusWord;  // nothing of that shape to bend
    last_ = kind;
    const size_t at = positions.empty() ? 0 : positions[below(positions.size())];
    switch (kind) {
    case Distortion::length: {
        const size_t size = below(maxAnswerData + 1);
        const Bytes padding = randomBytes(size > data.size() ? size - data.size() : 0);
        data.resize(std::min(size, data.size()));
        data.insert(data.end(), padding.begin(), padding.end());
        break;
    }
    case Distortion::truncatedTlv:
        data.resize(at + below(data.size() - at));
        break;
    case Distortion::lengthPastEnd:
        data[at] = static_cast<uint8_t>(std::min<size_t>(0xFF, data.size() - at + below(16)));
        break;
    case Distortion::longLengthForm: {
        const uint8_t form = longLengthForms[below(std::size(longLengthForms))];
        Bytes length;
        if (below(2))
            appendBigEndian(length, data[at], form & 0x7F);  // the same length, written long
        else
            length = randomBytes(form & 0x7F);
        data[at] = form;
        data.insert(data.begin() + static_cast<long>(at) + 1, length.begin(), length.end());
        data.resize(std::min(data.size(), maxAnswerData));
        break;
    }
    case Distortion::changedByte:
        data[below(data.size())] ^= static_cast<uint8_t>(1 + below(255));
        break;
    case Distortion::noise:
        data = randomBytes(below(maxAnswerData + 1));
        word = randomStatusWord();
        break;
    default:  // statusWord
        word = randomStatusWord();
        break;
    }
    return withStatus(std::move(data), word);
}

// Cut short, one byte changed, or random bytes.
Bytes HostileCard::hostileAtr()
{
    Bytes atr = card_.receive({0x04}).value_or(Bytes{});
    if (atr.empty())
        atr = {0x3B};
    switch (below(3)) {
    case 0:
        atr.resize(1 + below(atr.size()));
        return atr;
    case 1:
        atr[below(atr.size())] ^= static_cast<uint8_t>(1 + below(255));
        return atr;
    default:
        return randomBytes(1 + below(maxAtr));
    }
}

std::optional<Reply> HostileCard::standIn(const CommandApdu& command)
{
    if (endlessWalk_ && command.cla == 0x00 && command.ins == 0xA4)
        return endlessSelect(command);
    if (endlessJournal_ && command.cla == 0x90 && command.ins == 0x5D)
        return endlessJournalPortion(command);
    return std::nullopt;
}

// Every folder has another entry after the last one named, a new file each
// time; every path and the parent exist.
Reply HostileCard::endlessSelect(const CommandApdu& command)
{
    constexpr uint8_t selectParent = 0x03, selectPath = 0x08;
    if (command.p1 == selectParent)
        return status(sw::ok);
    uint16_t id = nextWalkId_++;
    uint8_t kind = walkFileKinds[below(std::size(walkFileKinds))];
    if (command.p1 == selectPath) {
        const Bytes path = command.data.value_or(Bytes{});
        id = path.size() >= 2 ? static_cast<uint16_t>(path[path.size() - 2] << 8 | path.back()) : 0x3F00;
        kind = 0x38;
    }
    Bytes body{0x82, 0x02, kind, 0x00, 0x83, 0x02, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    if (kind == 0x10) {
        const Bytes attempts{0x85, 0x06, 0x00, 0x00, 0x00, randomByte(), 0x00, 0x00};
        body.insert(body.end(), attempts.begin(), attempts.end());
    }
    body.insert(body.end(), {0x8A, 0x01, 0x05});
    Bytes fcp{0x62, static_cast<uint8_t>(body.size())};
    fcp.insert(fcp.end(), body.begin(), body.end());
    return success(std::move(fcp));
}

// The token's journal over and over (random bytes for a token without one).
Reply HostileCard::endlessJournalPortion(const CommandApdu& command)
{
    constexpr size_t maxPortion = 255;
    const size_t size = std::min(maxPortion, command.expectedLength().value_or(maxPortion));
    if (journal_.empty())
        return success(randomBytes(size));
    Bytes portion;
    for (size_t i = 0; i < size; ++i)
        portion.push_back(journal_[(journalPosition_ + i) % journal_.size()]);
    return Reply{std::move(portion), sw::ok,
                 [this, size] { journalPosition_ = (journalPosition_ + size) % journal_.size(); }};
}

size_t HostileCard::below(size_t bound)
{
    return bound == 0 ? 0 : static_cast<size_t>(random_() % bound);
}

uint8_t HostileCard::randomByte()
{
    return static_cast<uint8_t>(random_());
}

Bytes HostileCard::randomBytes(size_t count)
{
    Bytes bytes(count);
    for (auto& byte : bytes)
        byte = randomByte();
    return bytes;
}

uint16_t HostileCard::randomStatusWord()
{
    const auto& pattern = statusPatterns[below(std::size(statusPatterns))];
    return static_cast<uint16_t>(pattern.word | (random_() & pattern.randomBits));
}

}  // namespace kvtoken
