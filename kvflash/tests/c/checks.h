/*
 * The checks of the plain-C tests: a failed check is reported with its line
 * and counted in `failures`, and the test goes on.
 */
#ifndef KVFLASH_TESTS_C_CHECKS_H
#define KVFLASH_TESTS_C_CHECKS_H

#include <kvflash-core/kvflash.h>

#include <stdio.h>

static int failures = 0;

#define CHECK(condition)                                                            \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

#define CHECK_STATUS(call, expected)                                                        \
    do {                                                                                    \
        const kvflash_StatusCode status_ = (call);                                          \
        if (status_ != (expected)) {                                                        \
            fprintf(stderr, "%s:%d: %s gave %d, expected %d\n", __FILE__, __LINE__, #call, \
                    (int)status_, (int)(expected));                                         \
            ++failures;                                                                     \
        }                                                                                   \
    } while (0)

#endif
