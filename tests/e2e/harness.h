#pragma once

#include "backgroundProcess.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// Makes sure pcscd runs for this test program: starts `pcscd --foreground`
// when no PC/SC context can be established, and stops only a daemon it
// started, at program exit; a pcscd that systemd starts on demand is used as
// it is. Waits until the vpcd readers are listed.
void ensurePcscd();

// The vpcd reader behind a port: 35963 "Virtual PCD 00 00", 35964 "Virtual PCD 00 01".
std::string vpcdReaderName(int port);

// Plugs a virtual token into the vpcd reader on port: starts kvtoken-emu
// (KVTOKEN_EMU_PATH, with --trace and the further emulator options) with the
// profile file and waits until the card is present in that reader; the
// destructor stops it (SIGTERM) and
// waits until the reader is empty. Failing to plug in throws
// std::runtime_error with what the emulator said.
class VirtualToken {
public:
    explicit VirtualToken(const std::filesystem::path& profile, int port = 35963,
                          const std::vector<std::string>& options = {});
    ~VirtualToken();
    VirtualToken(const VirtualToken&) = delete;
    VirtualToken& operator=(const VirtualToken&) = delete;

    std::string stderrText() const;  // what the emulator wrote: its trace and its errors
    const std::string& readerName() const { return reader_; }

private:
    std::string reader_;
    std::unique_ptr<BackgroundProcess> emulator_;
};

std::filesystem::path bundledProfile(const std::string& name);  // PROFILES_DIR / name

// A PC/SC connection of the test's own to the card in one reader, for
// tests that talk to a token directly rather than through kvdiag.
class ReaderConnection {
public:
    explicit ReaderConnection(const std::string& reader);
    ~ReaderConnection();
    ReaderConnection(const ReaderConnection&) = delete;
    ReaderConnection& operator=(const ReaderConnection&) = delete;

    // Bytes in hex both ways, upper-case pairs separated by blanks ("90 00").
    std::string atr() const;
    DWORD protocol() const { return protocol_; }
    // One SCardTransmit: the answer with its status word, as the card sent it.
    std::string transmit(const std::string& command) const;

private:
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    DWORD protocol_ = 0;
};
