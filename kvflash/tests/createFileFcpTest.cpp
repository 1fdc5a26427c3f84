#include "apdu/createFileFcp.h"
#include "apdu/fcp.h"
#include "exception.h"
#include "hexBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace kvfl {
namespace {

using test::hex;

TEST(LocalPinFcp, CarriesTheSecurityFlagAndTheAttempts) {
    const struct {
        kvflash_SecureType secureType;
        const char* security;
    } cases[] = {
        {KVFLASH_SECURE_GLOBAL_BIT0, "86 0F 43 01 01 00 00 00 00 FF 00 00 00 00 00 00 00"},
        {KVFLASH_SECURE_GLOBAL_BIT1, "86 0F 43 01 02 00 00 00 00 FF 00 00 00 00 00 00 00"},
        // both global bits: flag 04 and the PIN's own identifier
        {KVFLASH_SECURE_GLOBAL_BOTH, "86 0F 43 01 04 00 00 00 00 FF 00 05 00 00 00 00 00"},
    };
    for (const auto& [secureType, security] : cases) {
        const Bytes fcp = localPinFcp(5, 10, secureType);
        EXPECT_EQ(fcp, test::concat({hex("62 25  80 02 00 20  82 02 10 00  83 02 00 05"), hex(security),
                                     hex("85 06 21 06 00 AA 00 00")}));
    }
}

TEST(LocalPinFcp, RefusesSecureTypesWithoutAFlag) {
    try {
        localPinFcp(5, 10, KVFLASH_SECURE_NONE);
        FAIL() << "accepted 0";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Incorrect security parameters have been set");
    }
    for (auto secureType : {KVFLASH_SECURE_FORBIDDEN, static_cast<kvflash_SecureType>(4)}) {
        try {
            localPinSecurityFlag(secureType);
            FAIL() << "accepted " << secureType;
        } catch (const std::logic_error& error) {
            EXPECT_STREQ(error.what(), "Unknown kvflash_SecureType");
        }
    }
}

TEST(MvaFcp, DescribesRecordsSizeAndAttempts) {
    EXPECT_EQ(mvaFcp(4, 10, 32, 3), hex("62 27  82 04 14 00 00 20  80 02 01 40  83 02 00 04  85 06 21 00 00 33 00 00"
                                        "  86 0F 7B 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00"));
    // the largest MVA: 254 records of 130 bytes
    const Bytes largest = mvaFcp(31, 254, 130, 10);
    const TlvElements fcp = parseTlv(parseTlv(largest, TlvMode::Ber).at(0).value, TlvMode::Ber);
    EXPECT_EQ(Bytes(findTlv(fcp, 0x80)->value.begin(), findTlv(fcp, 0x80)->value.end()), hex("80 FC"));
    EXPECT_EQ(findTlv(fcp, 0x85)->value[3], 0xAA);
}

struct MvaParams {
    int count, size, attempts;
    kvflash_StatusCode status;
};

kvflash_StatusCode statusOf(const std::function<void()>& check) {
    try {
        check();
        return KVFLASH_OK;
    } catch (const Exception& error) {
        return error.status();
    }
}

TEST(CreateChecks, MvaParametersInTheirOrder) {
    const MvaParams cases[] = {
        {254, 130, 10, KVFLASH_OK},  // 33020, the largest allowed product
        {1, 1, 1, KVFLASH_OK},
        {254, 131, 10, KVFLASH_INVALID_MVA_SIZE},
        {255, 1, 10, KVFLASH_INVALID_RECORD_COUNT},
        {0, 1, 10, KVFLASH_INVALID_RECORD_COUNT},
        {10, 250, 3, KVFLASH_INVALID_RECORD_SIZE},
        {10, 0, 3, KVFLASH_INVALID_RECORD_SIZE},
        {10, 32, 11, KVFLASH_INVALID_ATTEMPT_COUNT},
        {10, 32, 0, KVFLASH_INVALID_ATTEMPT_COUNT},
        // the first failing check names the status
        {0, 250, 0, KVFLASH_INVALID_RECORD_COUNT},
        {254, 249, 0, KVFLASH_INVALID_MVA_SIZE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusOf([&] {
                      checkMvaParams(static_cast<uint8_t>(c.count), static_cast<uint8_t>(c.size),
                                     static_cast<uint8_t>(c.attempts));
                  }),
                  c.status)
            << c.count << " x " << c.size << ", " << c.attempts;
    }
}

TEST(CreateChecks, LocalPinAttemptsThenSize) {
    EXPECT_EQ(statusOf([] { checkLocalPinParams(6, 10); }), KVFLASH_OK);
    EXPECT_EQ(statusOf([] { checkLocalPinParams(32, 1); }), KVFLASH_OK);
    EXPECT_EQ(statusOf([] { checkLocalPinParams(5, 10); }), KVFLASH_INVALID_PIN_SIZE);
    EXPECT_EQ(statusOf([] { checkLocalPinParams(33, 10); }), KVFLASH_INVALID_PIN_SIZE);
    EXPECT_EQ(statusOf([] { checkLocalPinParams(33, 11); }), KVFLASH_INVALID_ATTEMPT_COUNT);
    EXPECT_EQ(statusOf([] { checkLocalPinParams(6, 0); }), KVFLASH_INVALID_ATTEMPT_COUNT);
}

}  // namespace
}  // namespace kvfl
