/*
 * kvflash: management of the flash memory of Kelvane flash tokens.
 *
 * The whole C interface of the library. Every function returns a
 * kvflash_StatusCode; outputs are written only when it returns KVFLASH_OK.
 * The header compiles as C99 and as C++ and needs only standard headers.
 */
#ifndef KVFLASH_CORE_KVFLASH_H
#define KVFLASH_CORE_KVFLASH_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A compile-time check that works in C99 and C++ alike. */
#define KVFLASH_STATIC_ASSERT(condition, name) \
    typedef char kvflash_static_assert_##name[(condition) ? 1 : -1]

/* Outcome of every call. KVFLASH_OK is success; the 6000 range mirrors the
 * token's status words, the 100000 range the library's own checks. */
typedef enum kvflash_StatusCode {
    KVFLASH_OK = 0,
    KVFLASH_INTERNAL_ERROR = 1,
    KVFLASH_PCSC_ERROR = 2,
    KVFLASH_NULL_POINTER = 3,

    KVFLASH_FILE_NOT_FOUND = 6001,
    KVFLASH_INVALID_ACCESS_RIGHTS = 6002,
    KVFLASH_DATA_VERIFICATION_FAILED = 6003,
    KVFLASH_INCORRECT_PARAMETERS = 6004,
    KVFLASH_COMMAND_NOT_SUPPORTED = 6005,
    KVFLASH_OBJECT_BLOCKED = 6006,
    KVFLASH_WRONG_DATA_LENGTH = 6007,
    KVFLASH_NO_SPACE_FOR_RECORD = 6008,
    KVFLASH_WRONG_PIN_POLICY = 6009,
    KVFLASH_PIN_IN_HISTORY = 6010,
    KVFLASH_UNSUITABLE_CONDITIONS = 6011,
    KVFLASH_LOGIN_ALREADY_CREATED = 6012,
    KVFLASH_INVALID_DATA = 6013,
    KVFLASH_NO_FREE_LOCAL_ID = 6014,
    KVFLASH_NOT_ENOUGH_MEMORY = 6015,
    KVFLASH_COMMAND_FAILED = 6016,
    KVFLASH_OS_INTEGRITY_VIOLATION = 6017,
    KVFLASH_MODE_NOT_SUPPORTED = 6018,

    KVFLASH_INVALID_RECORD_COUNT = 100001,
    KVFLASH_INVALID_RECORD_SIZE = 100002,
    KVFLASH_INVALID_MVA_SIZE = 100003,
    KVFLASH_INVALID_ATTEMPT_COUNT = 100004,
    KVFLASH_CDROM_PERMANENT_ONLY = 100005,
    KVFLASH_INVALID_SECTION_ID = 100006,
    KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY = 100007,
    KVFLASH_JOURNAL_BLOCKED_BY_ENCRYPTED_SECTION = 100008,
    KVFLASH_INVALID_SECTION_COUNT = 100009,
    KVFLASH_INVALID_SECTION_SIZE = 100010,
    KVFLASH_INVALID_TOTAL_SECTION_SIZE = 100011,
    KVFLASH_JOURNAL_SECTION_EXISTS = 100012,
    KVFLASH_JOURNAL_SECTION_MISSING = 100013,
    KVFLASH_INVALID_JOURNAL_SECTION_SIZE = 100014,
    KVFLASH_INVALID_JOURNAL_ACCESS_RIGHTS = 100015,
    KVFLASH_SECTION_TYPE_NOT_SUPPORTED = 100016,
    KVFLASH_INVALID_PROTECT_CONDITIONS = 100017,
    KVFLASH_INVALID_SECRET_ID = 100018,
    KVFLASH_MVA_RECORD_MISMATCH = 100019,
    KVFLASH_LOGIN_INCORRECT = 100021,
    KVFLASH_TOKEN_NOT_FOUND = 100022,
    KVFLASH_RECORD_NOT_FOUND = 100023,
    KVFLASH_INVALID_DEVICE_RESPONSE = 100024,
    KVFLASH_INVALID_STRING_SIZE = 100025,
    KVFLASH_JOURNAL_READ_ONLY_SWITCH_FORBIDDEN = 100026,
    KVFLASH_SECRET_TYPE_MISMATCH = 100027,
    KVFLASH_INVALID_PIN_SIZE = 100028
} kvflash_StatusCode;

/* Opaque token handle, made by kvflash_create_token and released only by
 * kvflash_destroy_token. */
typedef struct kvflash_TokenImpl_ kvflash_TokenImpl_;

/* A byte string passed by value; not null-terminated. The size comes first. */
typedef struct kvflash_Buffer {
    uint32_t size;
    const uint8_t* data;
} kvflash_Buffer;

typedef enum kvflash_SectionType {
    KVFLASH_SECTION_ORDINARY = 0,
    KVFLASH_SECTION_JOURNAL_EVENTS = 1,
    /* the journal-type section that the device marks with type code 4 */
    KVFLASH_SECTION_JOURNAL = 2,
    KVFLASH_SECTION_ENCRYPTED = 3
} kvflash_SectionType;

/* 2, 4 and 6 and above are not valid states. */
typedef enum kvflash_SectionAccessState {
    KVFLASH_ACCESS_NONE = 0,
    KVFLASH_ACCESS_READ_ONLY = 1,
    KVFLASH_ACCESS_READ_WRITE = 3,
    KVFLASH_ACCESS_CDROM = 5
} kvflash_SectionAccessState;

/* The global-PIN part of a protect condition, or "forbidden". */
typedef enum kvflash_SecureType {
    KVFLASH_SECURE_NONE = 0,
    KVFLASH_SECURE_GLOBAL_BIT0 = 1,
    KVFLASH_SECURE_GLOBAL_BIT1 = 2,
    KVFLASH_SECURE_GLOBAL_BOTH = 3,
    KVFLASH_SECURE_FORBIDDEN = 255
} kvflash_SecureType;

typedef enum kvflash_SecretType {
    KVFLASH_SECRET_NONE = 0,
    KVFLASH_SECRET_MVA = 1,
    KVFLASH_SECRET_LOCAL_PIN = 2
} kvflash_SecretType;

/* The rule that guards one switch operation of a section. An all-zero entry
 * means the operation is unrestricted. */
typedef struct kvflash_ProtectCondition {
    kvflash_SecureType secureType;
    uint16_t secretId; /* local PIN or MVA identifier 3..31, 0 = none */
    uint16_t reserved; /* 0 */
    kvflash_SecretType secretType;
} kvflash_ProtectCondition;

/* Number of switch operations; entry i of kvflash_Section.conditions guards
 * the operation with bit value 1 << i. Bit value 2 is the temporary switch
 * to read-only. */
#define KVFLASH_SWITCH_OPERATION_COUNT 6

typedef struct kvflash_Section {
    uint8_t id; /* the device numbers sections from 1 */
    uint8_t reserved[3];
    kvflash_SectionType type;
    uint32_t size; /* in the device's size units */
    kvflash_SectionAccessState accessState;
    kvflash_ProtectCondition conditions[KVFLASH_SWITCH_OPERATION_COUNT];
} kvflash_Section;

/* Host information written into the token's security journal: four texts
 * (each at most 255 bytes; an empty one is sent as "NONE") and one 64-bit
 * value, carried to the journal in this order. */
typedef struct kvflash_PcInfo {
    kvflash_Buffer text1;
    kvflash_Buffer text2;
    kvflash_Buffer text3;
    kvflash_Buffer text4;
    uint64_t value;
} kvflash_PcInfo;

/* Shape of a new multi-valued authenticator. */
typedef struct kvflash_MvaParams {
    uint8_t maxRecordCount; /* 1..254 */
    uint8_t maxRecordSize;  /* 1..249 */
    uint8_t maxAttempts;    /* 1..10 */
} kvflash_MvaParams;

KVFLASH_STATIC_ASSERT(sizeof(kvflash_StatusCode) == 4, status_code_is_32_bit);
KVFLASH_STATIC_ASSERT(sizeof(kvflash_Buffer) == 2 * sizeof(void*), buffer_is_size_then_pointer);
KVFLASH_STATIC_ASSERT(sizeof(kvflash_ProtectCondition) == 12, protect_condition_is_12_bytes);
KVFLASH_STATIC_ASSERT(sizeof(kvflash_Section) == 88, section_is_88_bytes);
KVFLASH_STATIC_ASSERT(sizeof(kvflash_MvaParams) == 3, mva_params_are_3_bytes);

/* ---- Functions ---------------------------------------------------------- */
/* Tokens, sections and the call frame: declared below this line. */

#ifdef __cplusplus
}
#endif

#endif /* KVFLASH_CORE_KVFLASH_H */
