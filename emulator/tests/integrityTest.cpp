// Integrity checks compute the object's checksum against the reference the
// token stored when the object was written.
#include "testCard.h"

#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

std::string dataOf(const std::string& answer)
{
    return answer.substr(0, answer.size() - 5);
}

struct ObjectCase {
    const char* profile;
    const char* selectedFile;  // below 1000/1000; empty: a global PIN names itself by P1
    const char* objectP1;
    bool intact;
};

void PrintTo(const ObjectCase& object, std::ostream* out)
{
    *out << object.profile << " object " << object.objectP1 << ' ' << object.selectedFile;
}

class ObjectIntegrity : public testing::TestWithParam<ObjectCase> {};

TEST_P(ObjectIntegrity, CheckComparesContentWithStoredReference)
{
    const auto& param = GetParam();
    Card card = bundledCard(param.profile);
    if (*param.selectedFile) {
        ASSERT_EQ(send(card, std::string("00 A4 08 04 08 10 00 10 00 ") + param.selectedFile + " 00").substr(0, 2), "62");
    }
    const std::string check = send(card, std::string("80 7E ") + param.objectP1 + " 00 04");
    const std::string reference = send(card, std::string("80 7E ") + param.objectP1 + " 01 04");

    ASSERT_EQ(reference.size(), std::string("00 00 00 00 90 00").size());
    EXPECT_EQ(reference.substr(reference.size() - 5), "90 00");
    if (param.intact) {
        EXPECT_EQ(check, reference);  // the checksum it computed is the one it stored
    } else {
        EXPECT_EQ(check, "6F 87");
        EXPECT_NE(dataOf(reference), "00 00 00 00");
    }
}

INSTANTIATE_TEST_SUITE_P(Objects, ObjectIntegrity, testing::Values(
    ObjectCase{"mirel3.json", "", "31", true},
    ObjectCase{"damaged-keys.json", "", "31", true},
    ObjectCase{"damaged-keys.json", "", "32", false},
    ObjectCase{"mirel3.json", "60 02 00 02", "33", true},
    ObjectCase{"damaged-keys.json", "60 02 00 02", "33", false},
    ObjectCase{"damaged-keys.json", "60 02 00 01", "33", true}));

TEST(ObjectIntegrity, SelectingAFolderLeavesNoCurrentFile)
{
    Card card = bundledCard("mirel3.json");
    send(card, "00 A4 08 04 08 10 00 10 00 60 02 00 01 00");
    send(card, "00 A4 08 04 06 10 00 10 00 60 02 00");
    EXPECT_EQ(send(card, "80 7E 33 00 04"), "69 86");
}

}  // namespace
}  // namespace kvtoken::test
