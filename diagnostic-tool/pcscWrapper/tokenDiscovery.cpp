#include "pcscWrapper/tokenDiscovery.h"

#include <algorithm>
#include <bit>
#include <sstream>

namespace {

constexpr size_t kAtrRoom = 32;
constexpr uint8_t kHistoricalCountMask = 0x0F;
constexpr uint8_t kTaTbTcPresent = 0x70;
constexpr uint8_t kTdPresent = 0x80;

Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The discovery's own context, released however discovery ends.
class DiscoveryContext {
public:
    explicit DiscoveryContext(PcscApi& api) : api_(api)
    {
        if (LONG result = api_.establishContext(handle_); result != SCARD_S_SUCCESS)
            throw PcscExcepion(result, KV_THROW_SITE);
    }
    ~DiscoveryContext() { api_.releaseContext(handle_); }
    DiscoveryContext(const DiscoveryContext&) = delete;
    DiscoveryContext& operator=(const DiscoveryContext&) = delete;

    SCARDCONTEXT handle() const { return handle_; }

private:
    PcscApi& api_;
    SCARDCONTEXT handle_ = 0;
};

// Readers can vanish between the length query and the listing.
bool listingFailed(LONG result, std::vector<std::string>& readers)
{
    if (result == SCARD_E_NO_READERS_AVAILABLE) {
        readers.clear();
        return true;
    }
    if (result != SCARD_S_SUCCESS)
        throw PcscExcepion(result, KV_THROW_SITE);
    return false;
}

std::shared_ptr<Scard> connectFamilyCard(PcscApi& api, const std::string& reader)
{
    std::shared_ptr<Scard> scard;
    try {
        scard = std::make_shared<Scard>(api, reader);
    } catch (const std::exception&) {
        return nullptr;  // no card, the card held exclusively by someone else, ...
    }
    Bytes atr(kAtrRoom, 0);
    if (scard->getAtr(atr) != SCARD_S_SUCCESS || !isFamilyAtr(atr))
        return nullptr;
    return scard;
}

}  // namespace

const std::vector<Bytes> knownHistoricalBytes{
    ascii("Kelvane Tavi "),   ascii("KelvaneMirelsc"), ascii("KelvaneTaviBT"),   ascii("Kelvane Mirel"),
    ascii("KvSC"),            ascii("Kelvanebrisa"),   ascii("KelvaneBrisaSC2"),
};

std::vector<std::string> enumReaders(PcscApi& api, SCARDCONTEXT context)
{
    std::vector<std::string> readers;
    DWORD length = 0;
    if (listingFailed(api.listReaders(context, nullptr, length), readers))
        return readers;
    std::string names(length, '\0');
    if (listingFailed(api.listReaders(context, names.data(), length), readers))
        return readers;
    names.resize(std::min<size_t>(length, names.size()));

    std::istringstream list(names);
    for (std::string name; std::getline(list, name, '\0');)
        if (!name.empty())
            readers.push_back(name);
    return readers;
}

bool isBlacklistedReader(std::string_view readerName)
{
    return std::any_of(readerPrefixBlacklist.begin(), readerPrefixBlacklist.end(),
                       [&](std::string_view prefix) { return readerName.starts_with(prefix); });
}

std::optional<ByteView> historicalBytes(ByteView atr)
{
    if (atr.size() < 2)
        return std::nullopt;
    const size_t count = atr[1] & kHistoricalCountMask;
    size_t position = 2;
    for (uint8_t indicator = atr[1];; indicator = atr[position++]) {
        position += std::popcount(static_cast<uint8_t>(indicator & kTaTbTcPresent));
        if (!(indicator & kTdPresent))
            break;
        if (position >= atr.size())
            return std::nullopt;
    }
    if (position > atr.size() || atr.size() - position < count)
        return std::nullopt;
    return atr.subspan(position, count);
}

bool isFamilyAtr(ByteView atr)
{
    const auto historical = historicalBytes(atr);
    if (!historical)
        return false;
    const auto startsHistorical = [&](const Bytes& prefix) {
        return prefix.size() <= historical->size() && std::equal(prefix.begin(), prefix.end(), historical->begin());
    };
    return std::any_of(knownHistoricalBytes.begin(), knownHistoricalBytes.end(), startsHistorical);
}

Token getAvailableToken(PcscApi& api, FlashLibrary& flashLibrary)
{
    const DiscoveryContext context(api);
    std::vector<Token> candidates;
    for (const auto& reader : enumReaders(api, context.handle())) {
        if (isBlacklistedReader(reader))
            continue;
        if (auto scard = connectFamilyCard(api, reader))
            candidates.emplace_back(std::move(scard), flashLibrary);
    }
    std::erase_if(candidates, [](const Token& token) { return !token.isSupported(); });
    if (candidates.empty())
        throw NoTokenException();
    if (candidates.size() > 1)
        throw TooManyTokensException();
    return candidates.front();
}

Token getAvailableToken() { return getAvailableToken(systemPcsc(), systemFlashLibrary()); }
