#include "harness.h"

#include "hex.h"

#include <PCSC/pcsclite.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto waitLimit = std::chrono::seconds(10);
constexpr int firstVpcdPort = 35963;
constexpr char pcscdPath[] = "/usr/sbin/pcscd";

std::string pcscError(const std::string& what, LONG rc)
{
    return what + " failed: " + pcsc_stringify_error(rc);
}

// The daemon this program started, stopped when the program ends.
std::unique_ptr<BackgroundProcess>& startedPcscd()
{
    static std::unique_ptr<BackgroundProcess> daemon;
    return daemon;
}

class Context {
public:
    Context() : rc_(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_)) {}
    ~Context()
    {
        if (rc_ == SCARD_S_SUCCESS)
            SCardReleaseContext(context_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    LONG result() const { return rc_; }
    SCARDCONTEXT handle() const { return context_; }

private:
    SCARDCONTEXT context_ = 0;
    LONG rc_;
};

// A context that can be established means a PC/SC daemon answers, whoever
// started it; a pcscd that systemd starts on demand starts on this very call.
bool pcscServiceAnswers()
{
    return Context().result() == SCARD_S_SUCCESS;
}

// Why the vpcd reader is missing, and what helps.
std::string missingReaderText(const std::string& reader)
{
    if (startedPcscd())
        return "pcscd does not list \"" + reader + "\" (is vsmartcard-vpcd installed?); pcscd said: " +
               startedPcscd()->errorOutput();
    return "pcscd runs but does not list the vpcd reader \"" + reader +
           "\": it was started before vsmartcard-vpcd was installed; restart pcscd (systemctl restart pcscd)";
}

bool readerListed(const std::string& reader)
{
    const Context context;
    if (context.result() != SCARD_S_SUCCESS)
        return false;
    DWORD length = 0;
    if (SCardListReaders(context.handle(), nullptr, nullptr, &length) != SCARD_S_SUCCESS)
        return false;
    std::string names(length, '\0');
    if (SCardListReaders(context.handle(), nullptr, names.data(), &length) != SCARD_S_SUCCESS)
        return false;
    for (size_t start = 0; start < names.size() && names[start];) {
        const size_t end = names.find('\0', start);
        if (names.compare(start, end - start, reader) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

bool cardPresent(DWORD state)
{
    return (state & SCARD_STATE_PRESENT) && !(state & SCARD_STATE_MUTE);
}

bool readerEmpty(DWORD state)
{
    return state & SCARD_STATE_EMPTY;
}

// Follows the reader with SCardGetStatusChange until its state satisfies
// wanted; gives up at the wait limit or when stillWorth says so.
bool waitForReader(const std::string& reader, const std::function<bool(DWORD)>& wanted,
                   const std::function<bool()>& stillWorth = [] { return true; })
{
    const Context context;
    if (context.result() != SCARD_S_SUCCESS)
        throw std::runtime_error(pcscError("SCardEstablishContext", context.result()));
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = Clock::now() + waitLimit;
    while (Clock::now() < deadline && stillWorth()) {
        const LONG rc = SCardGetStatusChange(context.handle(), 100, &state, 1);
        if (rc == SCARD_S_SUCCESS)
            state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        else if (rc != static_cast<LONG>(SCARD_E_TIMEOUT))
            throw std::runtime_error(pcscError("SCardGetStatusChange on " + reader, rc));
        if (wanted(state.dwCurrentState))
            return true;
    }
    return false;
}

}  // namespace

void ensurePcscd()
{
    if (!startedPcscd() && !pcscServiceAnswers())
        startedPcscd() = std::make_unique<BackgroundProcess>(pcscdPath, std::vector<std::string>{"--foreground"});
    const std::string reader = vpcdReaderName(firstVpcdPort);
    const auto deadline = Clock::now() + waitLimit;
    while (!readerListed(reader)) {
        if (Clock::now() >= deadline)
            throw std::runtime_error(missingReaderText(reader));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string vpcdReaderName(int port)
{
    return "Virtual PCD 00 0" + std::to_string(port - firstVpcdPort);
}

std::filesystem::path bundledProfile(const std::string& name)
{
    return std::filesystem::path(PROFILES_DIR) / name;
}

VirtualToken::VirtualToken(const std::filesystem::path& profile, int port, const std::vector<std::string>& options)
    : reader_(vpcdReaderName(port))
{
    ensurePcscd();
    if (!waitForReader(reader_, readerEmpty))
        throw std::runtime_error(reader_ + " still holds a card: another virtual token is plugged in");
    std::vector<std::string> arguments{"--profile", profile.string(), "--port", std::to_string(port), "--trace"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    emulator_ = std::make_unique<BackgroundProcess>(KVTOKEN_EMU_PATH, arguments);
    if (!waitForReader(reader_, cardPresent, [this] { return emulator_->running(); })) {
        const std::string said = emulator_->errorOutput();
        emulator_->stop();
        throw std::runtime_error("no card appeared in " + reader_ + " for " + profile.string() +
                                 "; kvtoken-emu said: " + said);
    }
}

VirtualToken::~VirtualToken()
{
    const int exitCode = emulator_->stop();
    if (exitCode != 0)
        ADD_FAILURE() << "kvtoken-emu ended with " << exitCode << ": " << emulator_->errorOutput();
    try {
        if (!waitForReader(reader_, readerEmpty))
            ADD_FAILURE() << reader_ << " did not become empty after the virtual token stopped";
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
}

std::string VirtualToken::stderrText() const
{
    return emulator_->errorOutput();
}

ReaderConnection::ReaderConnection(const std::string& reader)
{
    LONG rc = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_);
    if (rc != SCARD_S_SUCCESS)
        throw std::runtime_error(pcscError("SCardEstablishContext", rc));
    rc = SCardConnect(context_, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_,
                      &protocol_);
    if (rc != SCARD_S_SUCCESS) {
        SCardReleaseContext(context_);
        throw std::runtime_error(pcscError("SCardConnect to " + reader, rc));
    }
}

ReaderConnection::~ReaderConnection()
{
    SCardDisconnect(card_, SCARD_LEAVE_CARD);
    SCardReleaseContext(context_);
}

std::string ReaderConnection::atr() const
{
    uint8_t atr[MAX_ATR_SIZE];
    DWORD length = sizeof atr;
    const LONG rc = SCardStatus(card_, nullptr, nullptr, nullptr, nullptr, atr, &length);
    if (rc != SCARD_S_SUCCESS)
        throw std::runtime_error(pcscError("SCardStatus", rc));
    return toHex(std::vector<uint8_t>(atr, atr + length));
}

std::string ReaderConnection::transmit(const std::string& command) const
{
    const std::vector<uint8_t> bytes = hexBytes(command);
    const SCARD_IO_REQUEST* header = protocol_ == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    uint8_t answer[258];
    DWORD length = sizeof answer;
    const LONG rc = SCardTransmit(card_, header, bytes.data(), bytes.size(), nullptr, answer, &length);
    if (rc != SCARD_S_SUCCESS)
        throw std::runtime_error(pcscError("SCardTransmit", rc));
    return toHex(std::vector<uint8_t>(answer, answer + length));
}
