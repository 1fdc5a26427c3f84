/* A program of a library user, built from the installed header and
 * kvflash.pc alone: waits up to ten seconds for the token with the serial
 * given on the command line to appear in kvflash_create_token_list.
 *   tokenList SERIAL
 * Exit 0 when it is listed, 1 when not, 2 on a bad argument. */
#define _POSIX_C_SOURCE 199309L

#include <kvflash-core/kvflash.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum { POLLS = 100, POLL_MS = 100 };

static int listed(uint64_t serial)
{
    uint64_t* serials = NULL;
    uint32_t count = 0;
    uint32_t i;
    int found = 0;
    if (kvflash_create_token_list(&serials, &count) != KVFLASH_OK)
        return 0;
    for (i = 0; i < count; ++i)
        found |= serials[i] == serial;
    kvflash_destroy_token_list(&serials);
    return found;
}

int main(int argc, char** argv)
{
    const struct timespec pause = {0, POLL_MS * 1000000L};
    uint64_t serial;
    int poll;
    if (argc != 2)
        return 2;
    serial = strtoull(argv[1], NULL, 10);
    for (poll = 0; poll < POLLS; ++poll) {
        if (listed(serial)) {
            printf("token %s listed\n", argv[1]);
            return 0;
        }
        nanosleep(&pause, NULL);
    }
    fprintf(stderr, "token %s not listed within %d ms\n", argv[1], POLLS * POLL_MS);
    return 1;
}
