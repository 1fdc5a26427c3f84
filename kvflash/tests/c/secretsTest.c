/*
 * Logins, local PINs, MVAs and host information through the C interface, as
 * an outside program uses them: plain C99, the public header only,
 * libkvflash.so only. Runs against one virtual flash token whose serial and
 * global PINs are given on the command line:
 *   secretsTest SERIAL ADMIN_PIN USER_PIN
 * The host information it writes carries the texts of HOST_TEXTS below, so
 * that a diagnostic run afterwards can look for them in the journal.
 */
#define _POSIX_C_SOURCE 199309L

#include "checks.h"

#include <kvflash-core/kvflash.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define WAIT_FOR_TOKEN_SECONDS 10
#define HOST_VALUE UINT64_C(0x0123456789ABCDEF)

static const char* const HOST_TEXTS[4] = {"kvflash-user", "KVFLASH-DOMAIN", "Debian GNU/Linux 12", "kvflash-host"};

static kvflash_Buffer text(const char* value)
{
    kvflash_Buffer buffer;
    buffer.size = (uint32_t)strlen(value);
    buffer.data = (const uint8_t*)value;
    return buffer;
}

static int contains(const uint16_t* ids, uint32_t count, uint16_t id)
{
    uint32_t i;
    for (i = 0; i < count; ++i)
        if (ids[i] == id)
            return 1;
    return 0;
}

static uint16_t userAttempts(kvflash_TokenImpl_* token)
{
    uint16_t attempts = 0xFFFF;
    CHECK_STATUS(kvflash_get_remaining_login_attempts_user(token, &attempts), KVFLASH_OK);
    return attempts;
}

static uint16_t localPinAttempts(kvflash_TokenImpl_* token, uint16_t id)
{
    uint16_t attempts = 0xFFFF;
    CHECK_STATUS(kvflash_get_remaining_login_attempts_local_pin(token, id, &attempts), KVFLASH_OK);
    return attempts;
}

static uint16_t mvaAttempts(kvflash_TokenImpl_* token, uint16_t id)
{
    uint16_t attempts = 0xFFFF;
    CHECK_STATUS(kvflash_get_remaining_login_attempts_mva(token, id, &attempts), KVFLASH_OK);
    return attempts;
}

static kvflash_TokenImpl_* openToken(uint64_t serial)
{
    const time_t deadline = time(NULL) + WAIT_FOR_TOKEN_SECONDS;
    const struct timespec pause = {0, 100000000L};
    kvflash_TokenImpl_* token = NULL;
    while (kvflash_create_token(serial, &token) != KVFLASH_OK && time(NULL) < deadline)
        nanosleep(&pause, NULL);
    return token;
}

static void checkGlobalPins(kvflash_TokenImpl_* token, const char* adminPin, const char* userPin)
{
    const uint16_t before = userAttempts(token);
    CHECK(before >= 2 && before <= 10);
    CHECK_STATUS(kvflash_login_user(token, text("wrong-pin")), KVFLASH_LOGIN_INCORRECT);
    CHECK(userAttempts(token) == before - 1);
    CHECK_STATUS(kvflash_login_user(token, text("")), KVFLASH_LOGIN_INCORRECT);
    CHECK(userAttempts(token) == before - 1); /* refused before any command */
    CHECK_STATUS(kvflash_login_user(token, text(userPin)), KVFLASH_OK);
    CHECK(userAttempts(token) == before);
    CHECK_STATUS(kvflash_logout(token), KVFLASH_OK);

    /* unblocking the user PIN needs the administrator */
    CHECK_STATUS(kvflash_reset_login_attempts_user(token), KVFLASH_INVALID_ACCESS_RIGHTS);
    CHECK_STATUS(kvflash_login_admin(token, text(adminPin)), KVFLASH_OK);
    CHECK_STATUS(kvflash_login_user(token, text("wrong-pin")), KVFLASH_LOGIN_INCORRECT);
    CHECK_STATUS(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    CHECK(userAttempts(token) == before);
}

/* With the administrator logged in. */
static uint16_t checkLocalPins(kvflash_TokenImpl_* token)
{
    uint16_t id = 0;
    uint16_t* ids = NULL;
    uint32_t count = 0;
    CHECK_STATUS(kvflash_create_local_pin(token, text("12345"), KVFLASH_SECURE_GLOBAL_BIT0, &id),
                 KVFLASH_INVALID_PIN_SIZE);
    CHECK_STATUS(kvflash_create_local_pin(token, text("135790"), KVFLASH_SECURE_GLOBAL_BIT0, &id), KVFLASH_OK);
    CHECK(id >= 3 && id <= 31);
    CHECK_STATUS(kvflash_create_local_pin_id_list(token, &ids, &count), KVFLASH_OK);
    CHECK(ids != NULL && contains(ids, count, id));
    CHECK_STATUS(kvflash_destroy_local_pin_id_list(&ids), KVFLASH_OK);
    CHECK(ids == NULL);

    CHECK(localPinAttempts(token, id) == 10);
    CHECK_STATUS(kvflash_login_local_pin(token, id, text("000000")), KVFLASH_LOGIN_INCORRECT);
    CHECK(localPinAttempts(token, id) == 9);
    CHECK_STATUS(kvflash_reset_login_attempts_local_pin(token, id), KVFLASH_OK);
    CHECK(localPinAttempts(token, id) == 10);
    CHECK_STATUS(kvflash_change_local_pin(token, id, text("24681357")), KVFLASH_OK);
    CHECK_STATUS(kvflash_login_local_pin(token, id, text("24681357")), KVFLASH_OK);
    return id;
}

/* With the administrator logged in. */
static uint16_t checkMva(kvflash_TokenImpl_* token, const char* adminPin, uint16_t localPinId)
{
    kvflash_MvaParams params;
    uint16_t id = 0;
    uint16_t* ids = NULL;
    uint32_t count = 0;
    uint8_t recordId = 0;

    params.maxRecordCount = 4;
    params.maxRecordSize = 32;
    params.maxAttempts = 5;
    CHECK_STATUS(kvflash_create_mva(token, &params, &id), KVFLASH_OK);
    CHECK(id >= 3 && id <= 31 && id != localPinId);
    CHECK_STATUS(kvflash_create_mva_id_list(token, &ids, &count), KVFLASH_OK);
    CHECK(ids != NULL && contains(ids, count, id) && !contains(ids, count, localPinId));
    CHECK_STATUS(kvflash_destroy_mva_id_list(&ids), KVFLASH_OK);

    CHECK_STATUS(kvflash_mva_add_record(token, id, text("record one"), &recordId), KVFLASH_OK);
    CHECK(recordId == 1);
    CHECK_STATUS(kvflash_mva_add_record(token, id, text("record two"), &recordId), KVFLASH_OK);
    CHECK(recordId == 2);
    CHECK_STATUS(kvflash_mva_delete_record(token, id, 1), KVFLASH_OK);
    CHECK_STATUS(kvflash_mva_delete_record(token, id, 3), KVFLASH_RECORD_NOT_FOUND);
    CHECK_STATUS(kvflash_mva_add_record(token, id, text("record three"), &recordId), KVFLASH_OK);
    CHECK(recordId == 1); /* the erased slot */

    CHECK_STATUS(kvflash_logout(token), KVFLASH_OK);
    CHECK(mvaAttempts(token, id) == 5);
    CHECK_STATUS(kvflash_login_mva(token, id, text("record one")), KVFLASH_MVA_RECORD_MISMATCH);
    CHECK(mvaAttempts(token, id) == 4);
    CHECK_STATUS(kvflash_login_mva(token, id, text("record two")), KVFLASH_OK);
    CHECK(mvaAttempts(token, id) == 5);
    CHECK_STATUS(kvflash_login_mva(token, id, text("wrong")), KVFLASH_MVA_RECORD_MISMATCH);
    CHECK_STATUS(kvflash_login_admin(token, text(adminPin)), KVFLASH_OK);
    CHECK_STATUS(kvflash_reset_login_attempts_mva(token, id), KVFLASH_OK);
    CHECK(mvaAttempts(token, id) == 5);
    CHECK_STATUS(kvflash_mva_clear_all_records(token, id), KVFLASH_OK);
    CHECK_STATUS(kvflash_logout(token), KVFLASH_OK);
    CHECK_STATUS(kvflash_login_mva(token, id, text("record two")), KVFLASH_MVA_RECORD_MISMATCH);

    /* the wrong kind of file */
    CHECK_STATUS(kvflash_login_local_pin(token, id, text("135790")), KVFLASH_SECRET_TYPE_MISMATCH);
    CHECK_STATUS(kvflash_login_mva(token, localPinId, text("record")), KVFLASH_SECRET_TYPE_MISMATCH);
    return id;
}

static void checkHostInformation(kvflash_TokenImpl_* token, const char* userPin)
{
    kvflash_PcInfo info;
    char longText[4][256];
    int i;

    info.text1 = text(HOST_TEXTS[0]);
    info.text2 = text(HOST_TEXTS[1]);
    info.text3 = text(HOST_TEXTS[2]);
    info.text4 = text(HOST_TEXTS[3]);
    info.value = HOST_VALUE;
    /* the token takes host information from a logged-in user only */
    CHECK_STATUS(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_INVALID_ACCESS_RIGHTS);
    CHECK_STATUS(kvflash_login_user(token, text(userPin)), KVFLASH_OK);

    /* several chunks: four texts of 255 bytes */
    for (i = 0; i < 4; ++i) {
        memset(longText[i], 'a' + i, 255);
        longText[i][255] = '\0';
    }
    info.text1 = text(longText[0]);
    info.text2 = text(longText[1]);
    info.text3 = text(longText[2]);
    info.text4 = text(longText[3]);
    CHECK_STATUS(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_OK);
    info.text1.size = 256; /* the terminating NUL too */
    CHECK_STATUS(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_INVALID_STRING_SIZE);

    /* one chunk, written last so that it ends the journal */
    info.text1 = text(HOST_TEXTS[0]);
    info.text2 = text(HOST_TEXTS[1]);
    info.text3 = text(HOST_TEXTS[2]);
    info.text4 = text(HOST_TEXTS[3]);
    CHECK_STATUS(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_OK);
    CHECK_STATUS(kvflash_logout(token), KVFLASH_OK);
}

/* A login kept by one handle whose PIN another handle changes: the next
 * operation of the first handle drops it (the token counts one wrong try)
 * and goes on; later operations no longer replay it. */
static void checkLoginChangedElsewhere(uint64_t serial, const char* adminPin, uint16_t localPinId)
{
    kvflash_TokenImpl_* keeper = openToken(serial);
    kvflash_TokenImpl_* changer = openToken(serial);
    kvflash_Section* sections = NULL;
    uint32_t count = 0;
    CHECK(keeper != NULL && changer != NULL);
    if (keeper == NULL || changer == NULL)
        return;
    CHECK_STATUS(kvflash_login_local_pin(keeper, localPinId, text("24681357")), KVFLASH_OK);
    CHECK_STATUS(kvflash_login_admin(changer, text(adminPin)), KVFLASH_OK);
    CHECK_STATUS(kvflash_change_local_pin(changer, localPinId, text("11223344")), KVFLASH_OK);
    CHECK(localPinAttempts(keeper, localPinId) == 10);

    CHECK_STATUS(kvflash_reset_login_attempts_local_pin(keeper, localPinId), KVFLASH_INVALID_ACCESS_RIGHTS);
    CHECK(localPinAttempts(keeper, localPinId) == 9); /* the replay that failed */
    CHECK_STATUS(kvflash_create_section_list(keeper, &sections, &count), KVFLASH_OK);
    CHECK_STATUS(kvflash_destroy_section_list(&sections), KVFLASH_OK);
    CHECK_STATUS(kvflash_reset_login_attempts_local_pin(keeper, localPinId), KVFLASH_INVALID_ACCESS_RIGHTS);
    CHECK(localPinAttempts(keeper, localPinId) == 9); /* not replayed again */

    CHECK_STATUS(kvflash_reset_login_attempts_local_pin(changer, localPinId), KVFLASH_OK);
    CHECK_STATUS(kvflash_destroy_token(&changer), KVFLASH_OK);
    CHECK_STATUS(kvflash_destroy_token(&keeper), KVFLASH_OK);
}

int main(int argc, char** argv)
{
    kvflash_TokenImpl_* token;
    uint64_t serial;
    const char* adminPin;
    const char* userPin;
    uint16_t localPinId;

    if (argc != 4) {
        fprintf(stderr, "usage: %s SERIAL ADMIN_PIN USER_PIN\n", argv[0]);
        return 2;
    }
    serial = strtoull(argv[1], NULL, 10);
    adminPin = argv[2];
    userPin = argv[3];
    token = openToken(serial);
    if (token == NULL) {
        fprintf(stderr, "the virtual token %s did not appear\n", argv[1]);
        return 1;
    }

    checkGlobalPins(token, adminPin, userPin);
    localPinId = checkLocalPins(token);
    checkMva(token, adminPin, localPinId);
    checkLoginChangedElsewhere(serial, adminPin, localPinId);
    checkHostInformation(token, userPin);
    CHECK_STATUS(kvflash_destroy_token(&token), KVFLASH_OK);

    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    printf("all checks passed\n");
    return 0;
}
