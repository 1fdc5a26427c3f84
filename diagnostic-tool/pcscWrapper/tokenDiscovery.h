#pragma once

#include "pcscWrapper/pcscApi.h"
#include "pcscWrapper/token.h"

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class NoTokenException : public std::exception {
public:
    const char* what() const noexcept override { return "Не удалось распознать Kelvane."; }
};

class TooManyTokensException : public std::exception {
public:
    const char* what() const noexcept override
    {
        return "Не удалось произвести проверку. Проверьте чтобы к компьютеру был подключен только один Kelvane.";
    }
};

// Readers of other products' drivers: never connected to.
inline constexpr std::array<std::string_view, 4> readerPrefixBlacklist{
    "Orvell Co. Kelvane",
    "AKS ifdh",
    "AKS VR",
    "Rainbow Technologies iKeyVirtualReader",
};

// ATR historical-byte prefixes that identify a token of the family.
extern const std::vector<Bytes> knownHistoricalBytes;

// Reader names in the order PC/SC reports them; no readers is an empty list.
std::vector<std::string> enumReaders(PcscApi& api, SCARDCONTEXT context);
// Case-sensitive match of the name's beginning against the blacklist.
bool isBlacklistedReader(std::string_view readerName);
// The K historical bytes that T0 announces, found after the interface bytes
// that T0 and each TDi announce; none when the ATR is shorter than announced.
std::optional<ByteView> historicalBytes(ByteView atr);
bool isFamilyAtr(ByteView atr);

// Finds the one supported token; throws NoTokenException or TooManyTokensException.
Token getAvailableToken(PcscApi& api, FlashLibrary& flashLibrary);
Token getAvailableToken();
