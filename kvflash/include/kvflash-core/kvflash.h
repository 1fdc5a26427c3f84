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

/* Every function returns KVFLASH_NULL_POINTER, doing nothing, when a pointer
 * it needs is null. Calls from all threads run one at a time. */

/* The serials of the connected tokens in ascending order; release the list
 * with kvflash_destroy_token_list. No token: a valid empty list, count 0. */
kvflash_StatusCode kvflash_create_token_list(uint64_t** serials, uint32_t* count);
/* Frees *serials (which may be null) and sets it to null. */
kvflash_StatusCode kvflash_destroy_token_list(uint64_t** serials);

/* Opens the connected token with exactly this serial;
 * KVFLASH_TOKEN_NOT_FOUND when there is none. */
kvflash_StatusCode kvflash_create_token(uint64_t serial, kvflash_TokenImpl_** token);
/* Releases *token (nothing to do when it is null) and sets it to null. */
kvflash_StatusCode kvflash_destroy_token(kvflash_TokenImpl_** token);

/* Whether the token keeps a security-event journal and can be partitioned. */
kvflash_StatusCode kvflash_is_token_supported(kvflash_TokenImpl_* token, bool* supported);

/* The current sections in ascending id order; release the list with
 * kvflash_destroy_section_list. */
kvflash_StatusCode kvflash_create_section_list(kvflash_TokenImpl_* token, kvflash_Section** sections,
                                               uint32_t* count);
/* Frees *sections (which must not be null) and sets it to null. */
kvflash_StatusCode kvflash_destroy_section_list(kvflash_Section** sections);

/* Flash not yet given to the journal sections, in the device's size units. */
kvflash_StatusCode kvflash_get_available_flash_size(kvflash_TokenImpl_* token, uint32_t* size);

/* Repartitions the flash into these sections, numbered from 1 in this order
 * (the id field is not read). The token restarts; the handle keeps working
 * once it is back, or the call returns KVFLASH_TOKEN_NOT_FOUND after 60 s. */
kvflash_StatusCode kvflash_split_into_sections(kvflash_TokenImpl_* token, const kvflash_Section* sections,
                                               uint32_t count);

/* Switches one section to a new access state, temporarily or permanently.
 * A permanent change restarts the token, as kvflash_split_into_sections. */
kvflash_StatusCode kvflash_change_section_access_rights(kvflash_TokenImpl_* token, uint8_t sectionId,
                                                        kvflash_SectionAccessState state, bool permanent);

/* ---- Logins, local PINs and host information ---------------------------- */
/* A login is kept in the handle and replayed before every later operation
 * until kvflash_logout; a kept login that the token no longer accepts (its
 * PIN changed elsewhere) is dropped and the operation goes on without it.
 * A wrong secret gives KVFLASH_LOGIN_INCORRECT (an MVA record
 * KVFLASH_MVA_RECORD_MISMATCH); a blocked one KVFLASH_OBJECT_BLOCKED.
 * Buffers with a null data pointer give KVFLASH_NULL_POINTER (for global PINs
 * only when their size is not 0). Local PINs and MVAs have identifiers 3..31. */

/* Global PINs of 1..249 bytes, else KVFLASH_LOGIN_INCORRECT before any command. */
kvflash_StatusCode kvflash_login_user(kvflash_TokenImpl_* token, kvflash_Buffer pin);
kvflash_StatusCode kvflash_login_admin(kvflash_TokenImpl_* token, kvflash_Buffer pin);
/* A local PIN of 6..32 bytes, else KVFLASH_INVALID_PIN_SIZE. */
kvflash_StatusCode kvflash_login_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId, kvflash_Buffer pin);
/* Forgets every kept login; nothing is sent to the token. */
kvflash_StatusCode kvflash_logout(kvflash_TokenImpl_* token);

kvflash_StatusCode kvflash_get_remaining_login_attempts_user(kvflash_TokenImpl_* token, uint16_t* attempts);
kvflash_StatusCode kvflash_get_remaining_login_attempts_admin(kvflash_TokenImpl_* token, uint16_t* attempts);
kvflash_StatusCode kvflash_get_remaining_login_attempts_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId,
                                                                  uint16_t* attempts);
/* Unblocks a local PIN / the user PIN (resets its retry counter). */
kvflash_StatusCode kvflash_reset_login_attempts_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId);
kvflash_StatusCode kvflash_reset_login_attempts_user(kvflash_TokenImpl_* token);

/* The identifiers of the local PINs; release the list with
 * kvflash_destroy_local_pin_id_list, which accepts a null list. */
kvflash_StatusCode kvflash_create_local_pin_id_list(kvflash_TokenImpl_* token, uint16_t** ids, uint32_t* count);
kvflash_StatusCode kvflash_destroy_local_pin_id_list(uint16_t** ids);

/* A new local PIN of 6..32 bytes with 10 attempts under the first free
 * identifier; secureType 1, 2 or 3. KVFLASH_NO_FREE_LOCAL_ID when 3..31 are taken. */
kvflash_StatusCode kvflash_create_local_pin(kvflash_TokenImpl_* token, kvflash_Buffer pin,
                                            kvflash_SecureType secureType, uint16_t* localPinId);
kvflash_StatusCode kvflash_change_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId, kvflash_Buffer newPin);

/* Writes the host information into the security journal;
 * KVFLASH_JOURNAL_SECTION_MISSING without a journal events section. */
kvflash_StatusCode kvflash_add_pc_info_to_journal(kvflash_TokenImpl_* token, const kvflash_PcInfo* info);

/* ---- Multi-valued authenticators (MVA) ----------------------------------- */

/* Records of 1..249 bytes, else KVFLASH_INVALID_RECORD_SIZE. */
kvflash_StatusCode kvflash_login_mva(kvflash_TokenImpl_* token, uint16_t mvaId, kvflash_Buffer record);
kvflash_StatusCode kvflash_get_remaining_login_attempts_mva(kvflash_TokenImpl_* token, uint16_t mvaId,
                                                            uint16_t* attempts);
/* The identifiers of the MVAs; release the list with
 * kvflash_destroy_mva_id_list, which accepts a null list. */
kvflash_StatusCode kvflash_create_mva_id_list(kvflash_TokenImpl_* token, uint16_t** ids, uint32_t* count);
kvflash_StatusCode kvflash_destroy_mva_id_list(uint16_t** ids);
/* A new MVA under the first free identifier; the limits are those of
 * kvflash_MvaParams, and count x size must stay below 33021. */
kvflash_StatusCode kvflash_create_mva(kvflash_TokenImpl_* token, const kvflash_MvaParams* params, uint16_t* mvaId);
/* Into the first erased slot, else appended; *recordId = its number (from 1). */
kvflash_StatusCode kvflash_mva_add_record(kvflash_TokenImpl_* token, uint16_t mvaId, kvflash_Buffer record,
                                          uint8_t* recordId);
kvflash_StatusCode kvflash_mva_delete_record(kvflash_TokenImpl_* token, uint16_t mvaId, uint8_t recordId);
kvflash_StatusCode kvflash_mva_clear_all_records(kvflash_TokenImpl_* token, uint16_t mvaId);
kvflash_StatusCode kvflash_reset_login_attempts_mva(kvflash_TokenImpl_* token, uint16_t mvaId);

#ifdef __cplusplus
}
#endif

#endif /* KVFLASH_CORE_KVFLASH_H */
