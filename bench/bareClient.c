/* kvdiag-bare-client READER COMMANDS: connects to the card in READER and sends
   every command of the file COMMANDS (one command a line, hex bytes separated
   by blanks, as the virtual token's trace shows them), in order, ignoring the
   answers. What a diagnosis costs with nothing but PC/SC between the program
   and the token. Exit 0 when every command went through, 1 otherwise. */
#include "bareCard.h"

#include <stdio.h>

enum { max_command = 261, max_answer = 258 };

/* The bytes of one trace line; -1 when it is not hex pairs. */
static long parse_command(const char* line, BYTE* command)
{
    long length = 0;
    int consumed = 0;
    unsigned int byte = 0;
    while (sscanf(line, " %2x%n", &byte, &consumed) == 1) {
        if (length == max_command)
            return -1;
        command[length++] = (BYTE)byte;
        line += consumed;
    }
    return length;
}

static int send_all(const bare_card* card, FILE* commands)
{
    char line[4 * max_command];
    BYTE command[max_command];
    BYTE answer[max_answer];
    while (fgets(line, sizeof line, commands)) {
        const long length = parse_command(line, command);
        if (length <= 0)
            continue;
        DWORD answer_length = sizeof answer;
        const LONG rc = bare_transmit(card, command, (DWORD)length, answer, &answer_length);
        if (rc != SCARD_S_SUCCESS) {
            fprintf(stderr, "kvdiag-bare-client: SCardTransmit: %s\n", pcsc_stringify_error(rc));
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: kvdiag-bare-client READER COMMANDS\n");
        return 1;
    }
    FILE* commands = fopen(argv[2], "r");
    if (!commands) {
        perror(argv[2]);
        return 1;
    }
    bare_card card;
    const LONG rc = bare_connect(&card, argv[1]);
    if (rc != SCARD_S_SUCCESS) {
        fprintf(stderr, "kvdiag-bare-client: cannot connect to %s: %s\n", argv[1], pcsc_stringify_error(rc));
        fclose(commands);
        return 1;
    }
    const int status = send_all(&card, commands);
    bare_disconnect(&card);
    fclose(commands);
    return status;
}
