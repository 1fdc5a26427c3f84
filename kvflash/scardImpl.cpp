#include "scardImpl.h"

#include "exception.h"
#include "lockedMemory.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <unistd.h>

namespace kvfl {
namespace {

constexpr uint8_t SW1_WRONG_LENGTH = 0x6C;
constexpr uint8_t SW1_MORE_DATA = 0x61;

// A buffer for an answer of up to `le` bytes and the status word (Le 00 = 256).
std::size_t answerBufferSize(uint8_t le) { return (le == 0 ? 256u : le) + 2u; }

const SCARD_IO_REQUEST* protocolToIoReq(DWORD protocol) {
    switch (protocol) {
        case SCARD_PROTOCOL_T0: return SCARD_PCI_T0;
        case SCARD_PROTOCOL_T1: return SCARD_PCI_T1;
        case SCARD_PROTOCOL_RAW: return SCARD_PCI_RAW;
    }
    throw PcscException(static_cast<uint32_t>(SCARD_E_UNEXPECTED));
}

// Removes SW1 SW2 from the end of an answer and returns them.
uint16_t cutApduRetcode(Bytes& answer) {
    if (answer.size() < 2) throw PcscException(static_cast<uint32_t>(SCARD_E_UNEXPECTED));
    const uint16_t sw = static_cast<uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
    answer.resize(answer.size() - 2);
    return sw;
}

uint8_t highByte(uint16_t sw) { return static_cast<uint8_t>(sw >> 8); }
uint8_t lowByte(uint16_t sw) { return static_cast<uint8_t>(sw); }

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace

PcscContext::PcscContext(std::shared_ptr<PcscApi> pcsc) : pcsc_(std::move(pcsc)), owner_(getpid()) {
    if (const uint32_t rc = pcsc_->establishContext(handle_); rc != SCARD_S_SUCCESS) throw PcscException(rc);
}

// A release from a forked child would go down the parent's connection to the service.
PcscContext::~PcscContext() {
    if (ownedByThisProcess()) pcsc_->releaseContext(handle_);
}

bool PcscContext::ownedByThisProcess() const { return owner_ == getpid(); }

KeptContext::KeptContext(std::shared_ptr<PcscApi> pcsc) : pcsc_(std::move(pcsc)) {}

std::shared_ptr<PcscContext> KeptContext::get() {
    const std::lock_guard lock(mutex_);
    if (!kept_ || !kept_->ownedByThisProcess()) kept_ = std::make_shared<PcscContext>(pcsc_);
    return kept_;
}

void KeptContext::discard(const std::shared_ptr<PcscContext>& failed) {
    const std::lock_guard lock(mutex_);
    if (kept_ == failed) kept_.reset();
}

ScardImpl::ScardImpl(const PcscString& reader, std::shared_ptr<PcscApi> pcsc)
    : ScardImpl(reader, std::make_shared<PcscContext>(std::move(pcsc))) {}

ScardImpl::ScardImpl(const PcscString& reader, std::shared_ptr<PcscContext> context)
    : context_(std::move(context)), reader_(reader) {
    // A failed connect leaves nothing open: the context goes with its last user.
    if (const uint32_t rc = pcsc().connect(context_->handle(), reader_, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card_,
                                           activeProtocol_);
        rc != SCARD_S_SUCCESS) {
        throw PcscException(rc);
    }
}

// The context is released after the card, when the last user lets it go.
ScardImpl::~ScardImpl() {
    if (lockCount_ != 0 && card_ != 0) pcsc().endTransaction(card_);
    if (card_ != 0) pcsc().disconnect(card_);
}

void ScardImpl::lock() {
    // A card reset by another application is reported by the next call on
    // the handle, which is usually this one: recover here as for a command.
    if (lockCount_ == 0) safeTransmit([this] { return pcsc().beginTransaction(card_); });
    ++lockCount_;
}

void ScardImpl::unlock() {
    // After a reset that could not be recovered the transaction is gone and
    // the count is 0: there is nothing left to end.
    if (lockCount_ == 0) return;
    if (lockCount_ == 1) {
        if (const uint32_t rc = pcsc().endTransaction(card_); rc != SCARD_S_SUCCESS) throw PcscException(rc);
    }
    --lockCount_;
}

void ScardImpl::swap(Scard& other) {
    auto* that = dynamic_cast<ScardImpl*>(&other);
    if (!that) throw std::runtime_error("Cannot swap Scard: incompatible implementation type");
    std::swap(context_, that->context_);
    std::swap(card_, that->card_);
    std::swap(activeProtocol_, that->activeProtocol_);
    std::swap(lockCount_, that->lockCount_);
    std::swap(reader_, that->reader_);
}

Bytes ScardImpl::atr() {
    Bytes atr(MAX_ATR_SIZE);
    DWORD length = static_cast<DWORD>(atr.size());
    if (pcsc().readAtr(card_, atr.data(), length) != SCARD_S_SUCCESS) return {};
    atr.resize(std::min<std::size_t>(length, atr.size()));
    return atr;
}

Response ScardImpl::transmit(const Apdu& apdu) {
    Bytes command = apdu.encode();
    const WipeOnExit wipeCommand(command);  // a VERIFY carries the PIN
    // T=0 carries no Le after command data; the card answers 61xx instead.
    const bool leDropped = activeProtocol_ == SCARD_PROTOCOL_T0 && apdu.hasDataAndLe();
    if (leDropped) command.pop_back();

    Bytes data = sendRaw(command, apdu.expectedResponseLength());
    uint16_t sw = cutApduRetcode(data);

    // Wrong Le: send again once with the length the card named. Only a
    // command that ends in Le may have its last byte replaced.
    if (highByte(sw) == SW1_WRONG_LENGTH && apdu.le() && !leDropped) {
        command.back() = lowByte(sw);
        data = sendRaw(command, answerBufferSize(lowByte(sw)));
        sw = cutApduRetcode(data);
    }

    for (int parts = 0; highByte(sw) == SW1_MORE_DATA; ++parts) {
        if (parts == MAX_GET_RESPONSE_PARTS) {
            fail(KVFLASH_INVALID_DEVICE_RESPONSE, ErrorInfoKind::ApduResponse,
                 std::string("the answer goes on for more than 256 GET RESPONSE parts"));
        }
        const GetResponseApdu getResponse(lowByte(sw));
        Bytes part = sendRaw(getResponse.encode(), getResponse.expectedResponseLength());
        sw = cutApduRetcode(part);
        append(data, part);
    }
    return Response{sw, std::move(data)};
}

Bytes ScardImpl::sendRaw(const Bytes& command, std::size_t receiveLength) {
    Bytes buffer(receiveLength);
    safeTransmit([&] {
        DWORD length = static_cast<DWORD>(buffer.size());
        const uint32_t rc = pcsc().transmit(card_, protocolToIoReq(activeProtocol_), command.data(),
                                            static_cast<DWORD>(command.size()), buffer.data(), length);
        if (rc == SCARD_S_SUCCESS) buffer.resize(length);
        return rc;
    });
    return buffer;
}

void ScardImpl::safeTransmit(const std::function<uint32_t()>& operation) {
    uint32_t rc = operation();
    if (rc == SCARD_S_SUCCESS) return;
    if (rc != static_cast<uint32_t>(SCARD_W_RESET_CARD)) throw PcscException(rc);
    rc = recoverFromReset(operation);
    if (rc != SCARD_S_SUCCESS) {
        dropCard();
        throw PcscException(rc);
    }
    // Recovered: the connection stays open and any transaction is held again,
    // so the caller's next command goes through as usual.
}

uint32_t ScardImpl::recoverFromReset(const std::function<uint32_t()>& operation) {
    uint32_t rc = static_cast<uint32_t>(SCARD_W_RESET_CARD);
    for (int attempt = 0; attempt < MAX_RESET_RECOVERY_ATTEMPTS && rc == static_cast<uint32_t>(SCARD_W_RESET_CARD);
         ++attempt) {
        rc = pcsc().reconnect(card_, activeProtocol_, activeProtocol_);
        if (rc != SCARD_S_SUCCESS) break;
        if (lockCount_ != 0) {
            rc = pcsc().beginTransaction(card_);
            if (rc != SCARD_S_SUCCESS) continue;
        }
        rc = operation();
    }
    return rc;
}

void ScardImpl::dropCard() {
    lockCount_ = 0;
    pcsc().disconnect(card_);
    card_ = 0;
}

std::vector<PcscString> listReaders(PcscApi& pcsc, SCARDCONTEXT context) {
    DWORD length = 0;
    uint32_t rc = pcsc.listReaders(context, nullptr, length);
    if (rc == static_cast<uint32_t>(SCARD_E_NO_READERS_AVAILABLE)) return {};
    if (rc != SCARD_S_SUCCESS) throw PcscException(rc);

    std::string multiString(length, '\0');
    rc = pcsc.listReaders(context, multiString.data(), length);
    // the last reader may have gone between the two calls
    if (rc == static_cast<uint32_t>(SCARD_E_NO_READERS_AVAILABLE)) return {};
    if (rc != SCARD_S_SUCCESS) throw PcscException(rc);
    multiString.resize(std::min<std::size_t>(length, multiString.size()));

    std::vector<PcscString> readers;
    std::string_view rest = multiString;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\0'), rest.size());
        if (end > 0) readers.emplace_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return readers;
}

Bytes historicalBytes(std::span<const uint8_t> atr) {
    if (atr.size() < 2) return {};
    const std::size_t count = atr[1] & 0x0F;  // K, in the low nibble of T0
    std::size_t position = 2;
    uint8_t indicator = atr[1];
    // TAi, TBi and TCi are announced by bits 4-6 of T0 or TDi-1, TDi by bit 7
    while (true) {
        position += std::popcount(static_cast<unsigned>(indicator & 0x70));
        if ((indicator & 0x80) == 0 || position >= atr.size()) break;
        indicator = atr[position++];
    }
    if (position >= atr.size()) return {};
    const auto historical = atr.subspan(position, std::min(count, atr.size() - position));
    return Bytes(historical.begin(), historical.end());
}

bool isKnownToken(std::span<const uint8_t> historical) {
    static constexpr std::string_view knownModels[] = {
        "KvSC", "KelvaneMirelsc", "Kelvane Tavi ", "Kelvane Mirel", "KelvaneTaviBT",
    };
    const std::string_view text(reinterpret_cast<const char*>(historical.data()), historical.size());
    return std::ranges::find(knownModels, text) != std::end(knownModels);
}

namespace {

// No card in the reader, the card left before the connect, or the reader
// itself went away or cannot be used: the reader is passed over, and a token
// in another reader is still found.
bool nothingToConnectTo(uint32_t rc) {
    switch (rc) {
    case static_cast<uint32_t>(SCARD_E_NO_SMARTCARD):
    case static_cast<uint32_t>(SCARD_W_REMOVED_CARD):
    case static_cast<uint32_t>(SCARD_E_UNKNOWN_READER):
    case static_cast<uint32_t>(SCARD_E_READER_UNAVAILABLE):
        return true;
    default:
        return false;
    }
}

// The card in `reader` when it is one of the known token models.
std::shared_ptr<Scard> knownTokenIn(const PcscString& reader, const std::shared_ptr<PcscContext>& context) {
    std::shared_ptr<ScardImpl> card;
    try {
        card = std::make_shared<ScardImpl>(reader, context);
    } catch (const PcscException& error) {
        if (nothingToConnectTo(error.resultCode())) return nullptr;
        throw;
    }
    if (!isKnownToken(historicalBytes(card->atr()))) return nullptr;
    return card;
}

}  // namespace

ScardEnumeratorImpl::ScardEnumeratorImpl(std::shared_ptr<PcscApi> pcsc, std::shared_ptr<KeptContext> kept)
    : pcsc_(std::move(pcsc)), kept_(std::move(kept)) {}

ScardEnumeratorImpl::~ScardEnumeratorImpl() {
    if (watching_) pcsc_->releaseContext(watchContext_);
}

std::vector<std::shared_ptr<Scard>> ScardEnumeratorImpl::enumScards() {
    const auto context = std::make_shared<PcscContext>(pcsc_);
    std::vector<std::shared_ptr<Scard>> tokens;
    for (const PcscString& reader : listReaders(*pcsc_, context->handle())) {
        if (std::shared_ptr<Scard> card = knownTokenIn(reader, context)) tokens.push_back(std::move(card));
    }
    return tokens;
}

std::shared_ptr<Scard> ScardEnumeratorImpl::connectTo(const PcscString& reader) {
    if (!kept_) return knownTokenIn(reader, std::make_shared<PcscContext>(pcsc_));
    const std::shared_ptr<PcscContext> context = kept_->get();
    try {
        return knownTokenIn(reader, context);
    } catch (const PcscException&) {
        kept_->discard(context);
        throw;
    }
}

namespace {

// pcsc-lite's name for the list of readers: its state changes when a reader
// comes or goes (a USB token that restarts may come back as a new reader).
constexpr char kReaderList[] = "\\\\?PnP?\\Notification";
// What tells a card's coming and going: presence, and the event count in the
// high word; a reader that is merely in use or no longer so is no news.
constexpr DWORD kCardNews = SCARD_STATE_PRESENT | SCARD_STATE_EMPTY | SCARD_STATE_MUTE | SCARD_STATE_UNAVAILABLE |
                            SCARD_STATE_UNKNOWN | 0xFFFF0000;

bool cardNews(const std::vector<SCARD_READERSTATE>& states) {
    return std::ranges::any_of(states, [](const SCARD_READERSTATE& state) {
        return (state.dwEventState & kCardNews) != (state.dwCurrentState & kCardNews);
    });
}

}  // namespace

void ScardEnumeratorImpl::noteReaders() {
    watched_.clear();
    if (!watching_) {
        if (pcsc_->establishContext(watchContext_) != SCARD_S_SUCCESS) return;
        watching_ = true;
    }
    try {
        watchedNames_ = listReaders(*pcsc_, watchContext_);
    } catch (const PcscException&) {
        return;
    }
    watchedNames_.emplace_back(kReaderList);
    watched_.assign(watchedNames_.size(), SCARD_READERSTATE{});
    for (std::size_t i = 0; i < watched_.size(); ++i) {
        watched_[i].szReader = watchedNames_[i].c_str();
        watched_[i].dwCurrentState = SCARD_STATE_UNAWARE;
    }
    if (pcsc_->waitForChange(watchContext_, watched_, 0) != SCARD_S_SUCCESS) {
        watched_.clear();
        return;
    }
    takeEventStates();
}

void ScardEnumeratorImpl::waitForReaderChange(std::chrono::milliseconds atMost) {
    if (watched_.empty()) {  // nothing could be noted: wait blindly, then look again
        ScardEnumerator::waitForReaderChange(atMost);
        noteReaders();
        return;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + atMost;
    for (auto left = atMost; left.count() > 0;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now())) {
        const uint32_t rc = pcsc_->waitForChange(watchContext_, watched_, static_cast<DWORD>(left.count()));
        if (rc != SCARD_S_SUCCESS && rc != static_cast<uint32_t>(SCARD_E_TIMEOUT)) {
            // A watched reader is gone: watch the readers there are now. A
            // second failure in a row is the service's own: wait blindly
            // rather than ask again and again.
            if (lastWaitFailed_) ScardEnumerator::waitForReaderChange(left);
            lastWaitFailed_ = !lastWaitFailed_;
            noteReaders();
            return;
        }
        lastWaitFailed_ = false;
        if (rc != SCARD_S_SUCCESS) return;  // the time is up
        const bool news = cardNews(watched_);
        takeEventStates();
        if (news) return;
    }
}

void ScardEnumeratorImpl::takeEventStates() {
    for (SCARD_READERSTATE& state : watched_) state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
}

}  // namespace kvfl
