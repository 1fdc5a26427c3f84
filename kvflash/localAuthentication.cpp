#include "localAuthentication.h"

#include "apdu/fcp.h"
#include "exception.h"

#include <array>
#include <set>
#include <string>

namespace kvfl {
namespace {

constexpr std::array<uint16_t, 3> folderPath = {0x1000, 0x1000, 0x6005};
constexpr uint16_t SW_FILE_NOT_FOUND = 0x6A82;  // after the last file
constexpr uint16_t FIRST_LOCAL_ID = 3;
constexpr uint16_t LAST_LOCAL_ID = 31;
// The folder holds at most the 29 local secrets and a few other files; a
// token that goes on answering SELECT next beyond this is broken.
constexpr std::size_t MAX_FOLDER_ENTRIES = 256;

}  // namespace

ApduCommand::SelectByFullPath selectLocalAuthenticationFolder()
{
    return ApduCommand::SelectByFullPath(folderPath);
}

ApduCommand::SelectByFullPath selectLocalSecretFile(uint16_t id)
{
    const std::array<uint16_t, 4> path = {folderPath[0], folderPath[1], folderPath[2], id};
    return ApduCommand::SelectByFullPath(path);
}

void walkLocalAuthenticationFolder(Scard& scard, const LocalFileVisitor& visit)
{
    scard.transmit(selectLocalAuthenticationFolder()).require();
    Response answer = scard.transmit(ApduCommand::SelectFirstFileApdu());
    for (std::size_t entries = 0; answer.is(SW_SUCCESS); ++entries) {
        if (entries == MAX_FOLDER_ENTRIES)
            fail(KVFLASH_INVALID_DEVICE_RESPONSE, ErrorInfoKind::ApduResponse,
                 std::string("the local authentication folder goes on for more than 256 files"));
        const SelectedFile file = parseSelectAnswer(answer.data);
        visit(file.fileId, file.fcp);
        answer = scard.transmit(ApduCommand::SelectNextFileApdu(file.fileId));
    }
    answer.require(SW_FILE_NOT_FOUND);
}

std::vector<uint16_t> localFileIds(Scard& scard, uint8_t fileDescriptor)
{
    std::vector<uint16_t> ids;
    walkLocalAuthenticationFolder(scard, [&](uint16_t fileId, const TlvElements& fcp) {
        if (descriptor(fcp) == fileDescriptor)
            ids.push_back(fileId);
    });
    return ids;
}

uint16_t firstFreeLocalLoginId(Scard& scard)
{
    std::set<uint16_t> taken;
    walkLocalAuthenticationFolder(scard, [&](uint16_t fileId, const TlvElements&) { taken.insert(fileId); });
    for (uint16_t id = FIRST_LOCAL_ID; id <= LAST_LOCAL_ID; ++id)
        if (!taken.contains(id))
            return id;
    throw Exception(KVFLASH_NO_FREE_LOCAL_ID);
}

}  // namespace kvfl
