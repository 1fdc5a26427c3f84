// The security journal decoder and the record texts it gives out.
#include "journal/decodedJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    DecodedJournal journal(ByteView(bytes, size));
    while (journal.nextRecordText()) {
    }
    return 0;
}
