// The flash library's section descriptions and the protect conditions in
// them: what a parsed section holds is encoded back without a fault.
#include "exception.h"
#include "section.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    kvfl::Sections sections;
    try {
        sections = kvfl::parseSectionDescriptions(kvfl::Bytes(bytes, bytes + size));
    } catch (const kvfl::Exception&) {
        return 0;
    }
    for (const auto& [number, section] : sections) {
        try {
            kvfl::checkJournalConditions(section.conditions);
            kvfl::encodeSectionDescription(number, section);
        } catch (const kvfl::Exception&) {
        }
    }
    return 0;
}
