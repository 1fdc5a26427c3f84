/* A PC/SC client with nothing in between: one context, one card, SCardTransmit.
   The yardstick the tool's and the library's connections are measured against. */
#ifndef KVDIAG_BENCH_BARE_CARD_H
#define KVDIAG_BENCH_BARE_CARD_H

#include <PCSC/winscard.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    SCARDCONTEXT context;
    SCARDHANDLE card;
    const SCARD_IO_REQUEST* header;
} bare_card;

/* Establishes a context and connects to the card in reader (T=0 or T=1). */
LONG bare_connect(bare_card* card, const char* reader);
/* One SCardTransmit; answerLength is the room on entry. */
LONG bare_transmit(const bare_card* card, const BYTE* command, DWORD length, BYTE* answer, DWORD* answerLength);
void bare_disconnect(bare_card* card);

#ifdef __cplusplus
}
#endif

#endif
