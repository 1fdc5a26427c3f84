// The flash library's readers of file control parameters: the VR-RSF checks
// of a local PIN or MVA file and the SELECT answer with its file identifier.
#include "apdu/fcp.h"
#include "exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::span<const uint8_t> data(bytes, size);
    try {
        kvfl::FCP::parseVrRsf(data);
    } catch (const kvfl::Exception&) {
    }
    try {
        const kvfl::SelectedFile file = kvfl::parseSelectAnswer(data);
        kvfl::descriptor(file.fcp);
    } catch (const kvfl::Exception&) {
    }
    return 0;
}
