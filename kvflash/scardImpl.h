// Card connections over PC/SC.
#pragma once

#include "pcscApi.h"
#include "scard.h"

#include <cstdint>
#include <chrono>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include <sys/types.h>

namespace kvfl {

// Answers longer than this many GET RESPONSE parts are refused: a card that
// keeps answering 61xx would otherwise hold the caller forever.
inline constexpr int MAX_GET_RESPONSE_PARTS = 256;
// Reconnect attempts after the card was reset under us.
inline constexpr int MAX_RESET_RECOVERY_ATTEMPTS = 15;

// One PC/SC context, released when the last of its users is gone: an
// enumeration and the connections it keeps share one, so that looking at a
// reader costs no context of its own. Every use of it is a library call,
// and those run one at a time. A context belongs to the process that
// established it: a forked child never releases its parent's.
class PcscContext {
public:
    // Throws PcscException.
    explicit PcscContext(std::shared_ptr<PcscApi> pcsc);
    ~PcscContext();
    PcscContext(const PcscContext&) = delete;
    PcscContext& operator=(const PcscContext&) = delete;

    PcscApi& pcsc() const { return *pcsc_; }
    SCARDCONTEXT handle() const { return handle_; }
    bool ownedByThisProcess() const;

private:
    std::shared_ptr<PcscApi> pcsc_;
    SCARDCONTEXT handle_ = 0;
    pid_t owner_;
};

// The context that tokens are opened in, kept from one opening to the next:
// each context is a connection to the smart-card service of its own, which
// costs more than the commands that open a token. It is replaced after a
// failure (the service may have restarted) and in a forked child.
class KeptContext {
public:
    explicit KeptContext(std::shared_ptr<PcscApi> pcsc = systemPcsc());
    // Throws PcscException when no context can be established.
    std::shared_ptr<PcscContext> get();
    // `failed` gave a PC/SC error: the next get establishes a new context.
    void discard(const std::shared_ptr<PcscContext>& failed);

private:
    std::mutex mutex_;
    std::shared_ptr<PcscApi> pcsc_;
    std::shared_ptr<PcscContext> kept_;
};

class ScardImpl : public Scard {
public:
    // Connects to the card in `reader` (T=0 or T=1) in a context of its
    // own, or in the given one; throws PcscException.
    explicit ScardImpl(const PcscString& reader, std::shared_ptr<PcscApi> pcsc = systemPcsc());
    ScardImpl(const PcscString& reader, std::shared_ptr<PcscContext> context);
    ~ScardImpl() override;
    ScardImpl(const ScardImpl&) = delete;
    ScardImpl& operator=(const ScardImpl&) = delete;

    Response transmit(const Apdu& apdu) override;
    void lock() override;
    void unlock() override;
    // Throws std::runtime_error when other is not a ScardImpl.
    void swap(Scard& other) override;

    const PcscString& reader() const override { return reader_; }
    // The card's ATR; empty when it cannot be read.
    Bytes atr();

private:
    Bytes sendRaw(const Bytes& command, std::size_t receiveLength);
    void safeTransmit(const std::function<uint32_t()>& operation);
    uint32_t recoverFromReset(const std::function<uint32_t()>& operation);
    void dropCard();
    PcscApi& pcsc() const { return context_->pcsc(); }

    std::shared_ptr<PcscContext> context_;
    SCARDHANDLE card_ = 0;
    DWORD activeProtocol_ = 0;
    uint32_t lockCount_ = 0;
    PcscString reader_;
};

class ScardEnumeratorImpl : public ScardEnumerator {
public:
    // Direct connections are made in `kept`'s context when one is given,
    // else each in a context of its own.
    explicit ScardEnumeratorImpl(std::shared_ptr<PcscApi> pcsc = systemPcsc(),
                                 std::shared_ptr<KeptContext> kept = nullptr);
    ~ScardEnumeratorImpl() override;
    ScardEnumeratorImpl(const ScardEnumeratorImpl&) = delete;
    ScardEnumeratorImpl& operator=(const ScardEnumeratorImpl&) = delete;

    // Connects to each listed reader; one without a card refuses at once.
    std::vector<std::shared_ptr<Scard>> enumScards() override;
    std::shared_ptr<Scard> connectTo(const PcscString& reader) override;
    // Watches the listed readers and the list itself (the PnP notification).
    void noteReaders() override;
    // SCardGetStatusChange on the noted readers; a change of nothing but a
    // reader being in use (our own connections) does not end the wait.
    void waitForReaderChange(std::chrono::milliseconds atMost) override;

private:
    // The states just read become the ones to compare with.
    void takeEventStates();

    std::shared_ptr<PcscApi> pcsc_;
    std::shared_ptr<KeptContext> kept_;
    SCARDCONTEXT watchContext_ = 0;
    bool watching_ = false;
    std::vector<PcscString> watchedNames_;
    std::vector<SCARD_READERSTATE> watched_;  // empty: nothing to watch
    bool lastWaitFailed_ = false;
};

// Reader names in the order PC/SC lists them; empty when there is no reader.
std::vector<PcscString> listReaders(PcscApi& pcsc, SCARDCONTEXT context);
// The historical bytes of an ATR (ISO/IEC 7816-3); what the ATR holds of
// them when it is cut short.
Bytes historicalBytes(std::span<const uint8_t> atr);
// Whether historical bytes name one of the known token models exactly.
bool isKnownToken(std::span<const uint8_t> historical);

}  // namespace kvfl
