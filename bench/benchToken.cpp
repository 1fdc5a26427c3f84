#include "benchToken.h"

#include "process.h"

#include <fstream>
#include <memory>
#include <stdexcept>

namespace {

std::unique_ptr<VirtualToken>& slot()
{
    static std::unique_ptr<VirtualToken> token;
    return token;
}

std::filesystem::path profileWith(const std::string& bundledProfileName, const std::string& changes)
{
    if (changes.empty())
        return bundledProfile(bundledProfileName);
    static const TempDir dir;
    const std::filesystem::path profile = dir.path() / bundledProfileName;
    std::ofstream(profile) << "{\"base\": \"" << bundledProfile(bundledProfileName).string() << "\", " << changes << "}\n";
    return profile;
}

}  // namespace

void plugToken(const std::string& bundledProfileName, const std::string& changes)
{
    unplugToken();
    slot() = std::make_unique<VirtualToken>(profileWith(bundledProfileName, changes));
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
