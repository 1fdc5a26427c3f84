#include "bareCard.h"

#include <stddef.h>

LONG bare_connect(bare_card* card, const char* reader)
{
    DWORD protocol = 0;
    LONG rc = SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &card->context);
    if (rc != SCARD_S_SUCCESS)
        return rc;
    rc = SCardConnect(card->context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card->card,
                      &protocol);
    if (rc != SCARD_S_SUCCESS) {
        SCardReleaseContext(card->context);
        return rc;
    }
    card->header = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    return SCARD_S_SUCCESS;
}

LONG bare_transmit(const bare_card* card, const BYTE* command, DWORD length, BYTE* answer, DWORD* answerLength)
{
    return SCardTransmit(card->card, card->header, command, length, NULL, answer, answerLength);
}

void bare_disconnect(bare_card* card)
{
    SCardDisconnect(card->card, SCARD_LEAVE_CARD);
    SCardReleaseContext(card->context);
}
