#include "benchToken.h"

#include <memory>
#include <stdexcept>

namespace {

std::unique_ptr<VirtualToken>& slot()
{
    static std::unique_ptr<VirtualToken> token;
    return token;
}

}  // namespace

void plugToken(const std::string& bundledProfileName)
{
    unplugToken();
    slot() = std::make_unique<VirtualToken>(bundledProfile(bundledProfileName));
}

const VirtualToken& pluggedToken()
{
    if (!slot())
        throw std::logic_error("no virtual token is plugged in for this benchmark");
    return *slot();
}

void unplugToken()
{
    slot().reset();
}
