/*
 * A program that calls every function of the flash library's C interface on
 * every connected token, whatever the tokens answer: it exits 0 when every
 * call returned one of the library's status codes and left its outputs as
 * they were on failure, 1 otherwise. Against a broken token (kvtoken-emu
 * --hostile) most calls fail; none may crash, hang or return garbage.
 * Splits and permanent switches are left out: they wait up to a minute for
 * a token that restarts.
 */
#include <kvflash-core/kvflash.h>

#include <stdio.h>

static const kvflash_StatusCode known[] = {
    KVFLASH_OK, KVFLASH_INTERNAL_ERROR, KVFLASH_PCSC_ERROR, KVFLASH_NULL_POINTER,
    KVFLASH_FILE_NOT_FOUND, KVFLASH_INVALID_ACCESS_RIGHTS, KVFLASH_DATA_VERIFICATION_FAILED,
    KVFLASH_INCORRECT_PARAMETERS, KVFLASH_COMMAND_NOT_SUPPORTED, KVFLASH_OBJECT_BLOCKED,
    KVFLASH_WRONG_DATA_LENGTH, KVFLASH_NO_SPACE_FOR_RECORD, KVFLASH_WRONG_PIN_POLICY, KVFLASH_PIN_IN_HISTORY,
    KVFLASH_UNSUITABLE_CONDITIONS, KVFLASH_LOGIN_ALREADY_CREATED, KVFLASH_INVALID_DATA, KVFLASH_NO_FREE_LOCAL_ID,
    KVFLASH_NOT_ENOUGH_MEMORY, KVFLASH_COMMAND_FAILED, KVFLASH_OS_INTEGRITY_VIOLATION, KVFLASH_MODE_NOT_SUPPORTED,
    KVFLASH_INVALID_RECORD_COUNT, KVFLASH_INVALID_RECORD_SIZE, KVFLASH_INVALID_MVA_SIZE,
    KVFLASH_INVALID_ATTEMPT_COUNT, KVFLASH_CDROM_PERMANENT_ONLY, KVFLASH_INVALID_SECTION_ID,
    KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY, KVFLASH_JOURNAL_BLOCKED_BY_ENCRYPTED_SECTION,
    KVFLASH_INVALID_SECTION_COUNT, KVFLASH_INVALID_SECTION_SIZE, KVFLASH_INVALID_TOTAL_SECTION_SIZE,
    KVFLASH_JOURNAL_SECTION_EXISTS, KVFLASH_JOURNAL_SECTION_MISSING, KVFLASH_INVALID_JOURNAL_SECTION_SIZE,
    KVFLASH_INVALID_JOURNAL_ACCESS_RIGHTS, KVFLASH_SECTION_TYPE_NOT_SUPPORTED, KVFLASH_INVALID_PROTECT_CONDITIONS,
    KVFLASH_INVALID_SECRET_ID, KVFLASH_MVA_RECORD_MISMATCH, KVFLASH_LOGIN_INCORRECT, KVFLASH_TOKEN_NOT_FOUND,
    KVFLASH_RECORD_NOT_FOUND, KVFLASH_INVALID_DEVICE_RESPONSE, KVFLASH_INVALID_STRING_SIZE,
    KVFLASH_JOURNAL_READ_ONLY_SWITCH_FORBIDDEN, KVFLASH_SECRET_TYPE_MISMATCH, KVFLASH_INVALID_PIN_SIZE,
};

static int faults = 0;

static void expectKnown(const char* call, kvflash_StatusCode status)
{
    size_t i;
    for (i = 0; i < sizeof known / sizeof known[0]; ++i)
        if (known[i] == status) {
            printf("%s: %d\n", call, (int)status);
            return;
        }
    fprintf(stderr, "%s: unknown status %d\n", call, (int)status);
    ++faults;
}

/* A call's output, filled with a marker before the call: on failure it must
 * still hold the marker. */
#define UNTOUCHED(status, output, marker)                                                 \
    do {                                                                                   \
        if ((status) != KVFLASH_OK && (output) != (marker)) {                              \
            fprintf(stderr, "%s:%d: output written on failure\n", __FILE__, __LINE__);     \
            ++faults;                                                                      \
        }                                                                                  \
    } while (0)

#define CALL(status, call)                 \
    do {                                   \
        status = (call);                   \
        expectKnown(#call, status);        \
    } while (0)

static const uint8_t adminPin[] = "87654321";
static const uint8_t userPin[] = "12345678";
static const uint8_t localPin[] = "246810";
static const uint8_t record[] = "record";

static void sections(kvflash_TokenImpl_* token)
{
    kvflash_StatusCode status;
    kvflash_Section* list = (kvflash_Section*)0x1;
    uint32_t count = 77;
    uint32_t size = 77;
    bool supported = true;
    uint32_t i;

    CALL(status, kvflash_is_token_supported(token, &supported));
    UNTOUCHED(status, supported, true);
    CALL(status, kvflash_get_available_flash_size(token, &size));
    UNTOUCHED(status, size, 77u);
    CALL(status, kvflash_create_section_list(token, &list, &count));
    UNTOUCHED(status, count, 77u);
    if (status != KVFLASH_OK)
        return;
    for (i = 0; i < count; ++i)
        CALL(status, kvflash_change_section_access_rights(token, list[i].id, KVFLASH_ACCESS_READ_ONLY, false));
    CALL(status, kvflash_destroy_section_list(&list));
}

static void logins(kvflash_TokenImpl_* token)
{
    kvflash_StatusCode status;
    const kvflash_Buffer admin = {sizeof adminPin - 1, adminPin};
    const kvflash_Buffer user = {sizeof userPin - 1, userPin};
    const kvflash_Buffer local = {sizeof localPin - 1, localPin};
    uint16_t attempts = 77;
    uint16_t id = 77;
    uint16_t* ids = (uint16_t*)0x1;
    uint32_t count = 77;
    const kvflash_PcInfo info = {{4, (const uint8_t*)"host"}, {0, NULL}, {4, (const uint8_t*)"user"}, {0, NULL}, 7};

    CALL(status, kvflash_login_admin(token, admin));
    CALL(status, kvflash_login_user(token, user));
    CALL(status, kvflash_get_remaining_login_attempts_user(token, &attempts));
    UNTOUCHED(status, attempts, 77);
    attempts = 77;
    CALL(status, kvflash_get_remaining_login_attempts_admin(token, &attempts));
    UNTOUCHED(status, attempts, 77);
    CALL(status, kvflash_create_local_pin_id_list(token, &ids, &count));
    UNTOUCHED(status, count, 77u);
    if (status == KVFLASH_OK)
        CALL(status, kvflash_destroy_local_pin_id_list(&ids));
    CALL(status, kvflash_create_local_pin(token, local, KVFLASH_SECURE_GLOBAL_BIT0, &id));
    UNTOUCHED(status, id, 77);
    CALL(status, kvflash_login_local_pin(token, 3, local));
    attempts = 77;
    CALL(status, kvflash_get_remaining_login_attempts_local_pin(token, 3, &attempts));
    UNTOUCHED(status, attempts, 77);
    CALL(status, kvflash_change_local_pin(token, 3, local));
    CALL(status, kvflash_reset_login_attempts_local_pin(token, 3));
    CALL(status, kvflash_reset_login_attempts_user(token));
    CALL(status, kvflash_add_pc_info_to_journal(token, &info));
    CALL(status, kvflash_logout(token));
}

static void mvas(kvflash_TokenImpl_* token)
{
    kvflash_StatusCode status;
    const kvflash_Buffer entry = {sizeof record - 1, record};
    const kvflash_MvaParams params = {4, 16, 5};
    uint16_t id = 77;
    uint16_t attempts = 77;
    uint16_t* ids = (uint16_t*)0x1;
    uint32_t count = 77;
    uint8_t recordId = 77;

    CALL(status, kvflash_create_mva(token, &params, &id));
    UNTOUCHED(status, id, 77);
    CALL(status, kvflash_create_mva_id_list(token, &ids, &count));
    UNTOUCHED(status, count, 77u);
    if (status == KVFLASH_OK)
        CALL(status, kvflash_destroy_mva_id_list(&ids));
    CALL(status, kvflash_mva_add_record(token, 4, entry, &recordId));
    UNTOUCHED(status, recordId, 77);
    CALL(status, kvflash_login_mva(token, 4, entry));
    CALL(status, kvflash_get_remaining_login_attempts_mva(token, 4, &attempts));
    UNTOUCHED(status, attempts, 77);
    CALL(status, kvflash_mva_delete_record(token, 4, 1));
    CALL(status, kvflash_mva_clear_all_records(token, 4));
    CALL(status, kvflash_reset_login_attempts_mva(token, 4));
    CALL(status, kvflash_logout(token));
}

int main(void)
{
    kvflash_StatusCode status;
    uint64_t* serials = NULL;
    uint32_t count = 0;
    uint32_t i;

    CALL(status, kvflash_create_token_list(&serials, &count));
    if (status != KVFLASH_OK)
        return faults ? 1 : 0;
    for (i = 0; i < count; ++i) {
        kvflash_TokenImpl_* token = NULL;
        CALL(status, kvflash_create_token(serials[i], &token));
        if (status != KVFLASH_OK)
            continue;
        sections(token);
        logins(token);
        mvas(token);
        CALL(status, kvflash_destroy_token(&token));
        if (token != NULL) {
            fprintf(stderr, "the destroyed handle's variable is not null\n");
            ++faults;
        }
    }
    CALL(status, kvflash_destroy_token_list(&serials));
    return faults ? 1 : 0;
}
