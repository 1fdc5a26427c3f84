/*
 * The C interface as an outside program uses it: plain C99, the public
 * header only, libkvflash.so only. Runs against two virtual flash tokens:
 * a Kelvane Mirel 3.0 Flash (a journal events section and an ordinary one)
 * and a Kelvane Varo. Prints how long opening and listing take and how long
 * a split keeps the caller waiting while the token restarts.
 */
#define _POSIX_C_SOURCE 199309L

#include "checks.h"

#include <kvflash-core/kvflash.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define MIREL3_FLASH_SERIAL UINT64_C(305420001)
#define VARO_SERIAL UINT64_C(7036874417766400)
#define MIREL3_FLASH_TOTAL_SIZE 1048576u
#define MIREL3_FLASH_JOURNAL_SIZE 1024u
#define WAIT_FOR_TOKENS_SECONDS 10

static double nowMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

static void sleepMs(long ms)
{
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}

static int listed(const uint64_t* serials, uint32_t count, uint64_t serial)
{
    uint32_t i;
    for (i = 0; i < count; ++i)
        if (serials[i] == serial)
            return 1;
    return 0;
}

/* pcscd may still be bringing the virtual readers and tokens up. */
static int waitForTokens(void)
{
    const double deadline = nowMs() + WAIT_FOR_TOKENS_SECONDS * 1000.0;
    while (nowMs() < deadline) {
        uint64_t* serials = NULL;
        uint32_t count = 0;
        if (kvflash_create_token_list(&serials, &count) == KVFLASH_OK) {
            const int both = listed(serials, count, MIREL3_FLASH_SERIAL) && listed(serials, count, VARO_SERIAL);
            kvflash_destroy_token_list(&serials);
            if (both)
                return 1;
        }
        sleepMs(100);
    }
    return 0;
}

static void checkTokenList(void)
{
    uint64_t* serials = NULL;
    uint32_t count = 0;
    uint32_t i;
    CHECK_STATUS(kvflash_create_token_list(&serials, &count), KVFLASH_OK);
    CHECK(serials != NULL);
    CHECK(count >= 2);
    for (i = 1; i < count; ++i)
        CHECK(serials[i - 1] < serials[i]);
    CHECK_STATUS(kvflash_destroy_token_list(&serials), KVFLASH_OK);
    CHECK(serials == NULL);
}

static void checkUnknownSerial(void)
{
    kvflash_TokenImpl_* token = NULL;
    CHECK_STATUS(kvflash_create_token(MIREL3_FLASH_SERIAL + 1, &token), KVFLASH_TOKEN_NOT_FOUND);
    CHECK(token == NULL);
}

/* The index of the first section of this type, or -1. */
static int findSection(const kvflash_Section* sections, uint32_t count, kvflash_SectionType type)
{
    uint32_t i;
    for (i = 0; i < count; ++i)
        if (sections[i].type == type)
            return (int)i;
    return -1;
}

static int journalSectionId(kvflash_TokenImpl_* token)
{
    kvflash_Section* sections = NULL;
    uint32_t count = 0;
    int journal = -1;
    int id = 0;
    CHECK_STATUS(kvflash_create_section_list(token, &sections, &count), KVFLASH_OK);
    if (sections == NULL)
        return 0;
    journal = findSection(sections, count, KVFLASH_SECTION_JOURNAL_EVENTS);
    CHECK(journal >= 0);
    if (journal >= 0)
        id = sections[journal].id;
    CHECK_STATUS(kvflash_destroy_section_list(&sections), KVFLASH_OK);
    return id;
}

static kvflash_Section ordinarySection(uint32_t size, kvflash_SectionAccessState state)
{
    kvflash_Section section = {0};
    section.type = KVFLASH_SECTION_ORDINARY;
    section.size = size;
    section.accessState = state;
    return section;
}

static void checkMirel3Flash(void)
{
    kvflash_TokenImpl_* token = NULL;
    kvflash_Section* sections = NULL;
    uint32_t count = 0;
    uint32_t freeSize = 0;
    bool supported = false;
    double started;
    double opened;
    kvflash_Section requested[2];
    int journalId;

    started = nowMs();
    CHECK_STATUS(kvflash_create_token(MIREL3_FLASH_SERIAL, &token), KVFLASH_OK);
    CHECK_STATUS(kvflash_create_section_list(token, &sections, &count), KVFLASH_OK);
    opened = nowMs();
    printf("kvflash_create_token + kvflash_create_section_list: %.1f ms\n", opened - started);
    if (token == NULL)
        return;

    CHECK(count == 2);
    CHECK(findSection(sections, count, KVFLASH_SECTION_ORDINARY) >= 0);
    CHECK(findSection(sections, count, KVFLASH_SECTION_JOURNAL_EVENTS) >= 0);
    CHECK(sections[0].id < sections[1].id);
    CHECK_STATUS(kvflash_destroy_section_list(&sections), KVFLASH_OK);
    CHECK(sections == NULL);

    CHECK_STATUS(kvflash_is_token_supported(token, &supported), KVFLASH_OK);
    CHECK(supported);
    CHECK_STATUS(kvflash_get_available_flash_size(token, &freeSize), KVFLASH_OK);
    CHECK(freeSize == MIREL3_FLASH_TOTAL_SIZE - MIREL3_FLASH_JOURNAL_SIZE);

    /* Two ordinary sections take the place of the old one; the token
     * restarts and the same handle serves the calls after it. */
    requested[0] = ordinarySection(600000, KVFLASH_ACCESS_READ_WRITE);
    requested[1] = ordinarySection(400000, KVFLASH_ACCESS_CDROM);
    started = nowMs();
    CHECK_STATUS(kvflash_split_into_sections(token, requested, 2), KVFLASH_OK);
    printf("kvflash_split_into_sections, the token's restart included: %.1f ms\n", nowMs() - started);
    CHECK_STATUS(kvflash_create_section_list(token, &sections, &count), KVFLASH_OK);
    CHECK(count == 3);
    if (sections != NULL && count == 3) {
        CHECK(sections[0].id == 1 && sections[0].size == 600000 && sections[0].accessState == KVFLASH_ACCESS_READ_WRITE);
        CHECK(sections[1].id == 2 && sections[1].size == 400000 && sections[1].accessState == KVFLASH_ACCESS_CDROM);
        CHECK(sections[2].type == KVFLASH_SECTION_JOURNAL_EVENTS && sections[2].size == MIREL3_FLASH_JOURNAL_SIZE);
        CHECK(sections[2].conditions[0].secureType == KVFLASH_SECURE_FORBIDDEN);
        CHECK(sections[2].conditions[1].secureType == KVFLASH_SECURE_NONE);
    }
    CHECK_STATUS(kvflash_destroy_section_list(&sections), KVFLASH_OK);

    journalId = journalSectionId(token);
    CHECK_STATUS(kvflash_change_section_access_rights(token, (uint8_t)journalId, KVFLASH_ACCESS_READ_ONLY, false),
                 KVFLASH_OK);
    CHECK_STATUS(kvflash_change_section_access_rights(token, (uint8_t)journalId, KVFLASH_ACCESS_READ_ONLY, true),
                 KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY);
    CHECK_STATUS(kvflash_change_section_access_rights(token, 200, KVFLASH_ACCESS_READ_ONLY, false),
                 KVFLASH_INVALID_SECTION_ID);
    CHECK_STATUS(kvflash_change_section_access_rights(token, 1, KVFLASH_ACCESS_CDROM, false),
                 KVFLASH_CDROM_PERMANENT_ONLY);

    CHECK_STATUS(kvflash_destroy_token(&token), KVFLASH_OK);
    CHECK(token == NULL);
    CHECK_STATUS(kvflash_destroy_token(&token), KVFLASH_OK);
}

static void checkVaro(void)
{
    kvflash_TokenImpl_* token = NULL;
    kvflash_Section* sections = NULL;
    uint32_t count = 0;
    CHECK_STATUS(kvflash_create_token(VARO_SERIAL, &token), KVFLASH_OK);
    if (token == NULL)
        return;
    CHECK_STATUS(kvflash_create_section_list(token, &sections, &count), KVFLASH_OK);
    CHECK(count == 4);
    CHECK(findSection(sections, count, KVFLASH_SECTION_ENCRYPTED) >= 0);
    CHECK_STATUS(kvflash_destroy_section_list(&sections), KVFLASH_OK);
    CHECK_STATUS(kvflash_destroy_token(&token), KVFLASH_OK);
}

int main(void)
{
    if (!waitForTokens()) {
        fprintf(stderr, "the virtual tokens %llu and %llu did not appear\n", (unsigned long long)MIREL3_FLASH_SERIAL,
                (unsigned long long)VARO_SERIAL);
        return 1;
    }
    checkTokenList();
    checkUnknownSerial();
    checkMirel3Flash();
    checkVaro();
    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    printf("all checks passed\n");
    return 0;
}
