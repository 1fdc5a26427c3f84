// Walking the key folders as the tool and the flash library do.
#include "testCard.h"

#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

struct Entry {
    std::string id;
    bool folder;
};

// Reads 83 and 82 from the template 62 of a SELECT answer.
Entry entryOf(const Bytes& answer)
{
    Entry entry{"", false};
    for (size_t i = 2; i + 1 < answer.size() - 2; i += 2 + answer[i + 1]) {
        if (answer[i] == 0x83)
            entry.id = formatHex({answer[i + 2], answer[i + 3]});
        if (answer[i] == 0x82)
            entry.folder = answer[i + 2] == 0x38;
    }
    return entry;
}

bool succeeded(const Bytes& answer)
{
    return answer.size() >= 2 && answer[answer.size() - 2] == 0x90 && answer.back() == 0x00;
}

// SELECT first, then SELECT next after each entry until the token refuses;
// the tool climbs back out of every sub-folder it lands in, the library
// does not. Returns the entries seen and the status word that ended it.
std::pair<std::vector<std::string>, std::string> walk(Card& card, const std::string& folderPath, bool climbOut)
{
    std::vector<std::string> seen;
    EXPECT_TRUE(succeeded(card.transmit(parseHex("00 A4 08 04 06 " + folderPath + " 00"))));
    Bytes answer = card.transmit(parseHex("00 A4 00 04 00"));
    while (succeeded(answer)) {
        const Entry entry = entryOf(answer);
        seen.push_back(entry.id);
        if (entry.folder && climbOut) {
            EXPECT_EQ(send(card, "00 A4 03 04"), "90 00");
        }
        answer = card.transmit(parseHex("00 A4 00 06 02 " + entry.id + " 00"));
    }
    return {seen, formatHex(answer)};
}

TEST(FileSystemWalk, VisitsEveryEntryInOrderThenAnswers6A82)
{
    for (bool climbOut : {true, false}) {
        Card card = bundledCard("mirel3.json");
        const auto [seen, end] = walk(card, "10 00 10 00 60 02", climbOut);
        EXPECT_EQ(seen, (std::vector<std::string>{"00 01", "00 02", "0A 00", "00 03"})) << climbOut;
        EXPECT_EQ(end, "6A 82");
    }
}

TEST(FileSystemWalk, EachKeyFolderHoldsItsObjects)
{
    const std::pair<const char*, std::vector<std::string>> folders[] = {
        {"10 00 10 00 60 01", {"00 01", "00 02", "00 03"}},
        {"10 00 10 00 60 03", {"00 01"}},
        {"10 00 10 00 60 05", {"00 03", "00 04"}},
    };
    Card card = bundledCard("mirel3.json");
    for (const auto& [path, entries] : folders)
        EXPECT_EQ(walk(card, path, true).first, entries) << path;
}

TEST(FileSystemWalk, EmptyFolderRefusesSelectFirst)
{
    Card card = cardOver("mirel3.json", R"("fileSystem": {"1000": {"1000": {"6003": {"0001": null}}}})");
    EXPECT_EQ(send(card, "00 A4 08 04 06 10 00 10 00 60 03 00").substr(0, 2), "62");
    EXPECT_EQ(send(card, "00 A4 00 04 00"), "6A 82");
}

TEST(FileSystemSelect, RefusesWhatIsNotThere)
{
    const std::pair<const char*, const char*> cases[] = {
        {"00 A4 08 04 06 10 00 10 00 60 04 00", "6A 82"},        // no such folder
        {"00 A4 08 04 0A 10 00 10 00 60 01 00 01 00 00 00", "6A 82"},  // below a file
        {"00 A4 08 04 03 10 00 10 00", "6A 80"},                 // half an identifier
        {"00 A4 00 06 02 77 77 00", "6A 82"},                    // next after an unknown entry
        {"00 A4 00 06 01 77 00", "6A 80"},
        {"00 A4 03 04", "6A 82"},                                // the root has no parent
        {"00 A4 01 0C 02 3F 00", "6A 86"},
    };
    for (const auto& [command, answer] : cases) {
        Card card = bundledCard("mirel3.json");
        EXPECT_EQ(send(card, command), answer) << command;
    }
}

TEST(FileSystemSelect, FullPathAnswersTheFcpOfWhatItSelected)
{
    Card card = bundledCard("mirel3.json");
    EXPECT_EQ(send(card, "00 A4 08 04 06 10 00 10 00 60 05 00"), "62 0B 82 02 38 00 83 02 60 05 8A 01 05 90 00");
    EXPECT_EQ(send(card, "00 A4 08 04 00 00"), "62 0B 82 02 38 00 83 02 3F 00 8A 01 05 90 00");
}

TEST(FileSystemSelect, PowerOnReturnsToTheRoot)
{
    Card card = bundledCard("mirel3.json");
    send(card, "00 A4 08 04 06 10 00 10 00 60 02 00");
    card.receive({0x01});
    EXPECT_EQ(send(card, "00 A4 00 04 00").substr(0, 35), "62 0B 82 02 38 00 83 02 10 00 8A 01");
}

}  // namespace
}  // namespace kvtoken::test
