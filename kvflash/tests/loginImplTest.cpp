#include "loginImpl.h"

#include "hexBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kvfl {
namespace {

using test::hex;

const Bytes SECRET = hex("31 32 33 34 35 36");

struct LoginCase {
    const char* name;
    std::function<std::unique_ptr<Login>(std::span<const uint8_t>)> make;
    uint8_t kind;
    int32_t reference;
    kvflash_StatusCode wrongSecret;
    const char* login;
    const char* query;
};

class Logins : public ::testing::TestWithParam<LoginCase> {};

TEST_P(Logins, BuildTheirVerifyCommands) {
    const LoginCase& c = GetParam();
    const auto login = c.make(SECRET);
    EXPECT_EQ(login->kind(), c.kind);
    EXPECT_EQ(login->reference(), c.reference);
    EXPECT_EQ(login->wrongSecretStatus(), c.wrongSecret);
    EXPECT_EQ(login->makeLoginCommand().encode(), hex(c.login));
    EXPECT_EQ(login->makeQueryCommand().encode(), hex(c.query));
    // a login without a secret still asks for the attempts the same way
    EXPECT_EQ(c.make({})->makeQueryCommand().encode(), hex(c.query));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Logins,
    ::testing::Values(
        LoginCase{"Admin", [](auto s) { return std::make_unique<AdminPin>(s); }, 1, 1, KVFLASH_LOGIN_INCORRECT,
                  "00 20 00 01 06 31 32 33 34 35 36", "00 20 00 01 00"},
        LoginCase{"User", [](auto s) { return std::make_unique<UserPin>(s); }, 2, 2, KVFLASH_LOGIN_INCORRECT,
                  "00 20 00 02 06 31 32 33 34 35 36", "00 20 00 02 00"},
        LoginCase{"LocalPin", [](auto s) { return std::make_unique<LocaLPinLogin>(7, s); }, 4, 7,
                  KVFLASH_LOGIN_INCORRECT, "00 20 00 87 06 31 32 33 34 35 36", "00 20 00 87 00"},
        LoginCase{"Mva", [](auto s) { return std::make_unique<MVALogin>(31, s); }, 4, 31,
                  KVFLASH_MVA_RECORD_MISMATCH, "00 20 00 9F 06 31 32 33 34 35 36", "00 20 00 9F 00"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvfl
