#include <gtest/gtest.h>

#include "core/alias.h"
#include "support/test_root.h"
#include "unusable_file.h"

namespace {

const char* kAliases = R"({
  "filename": "/data/configs/alias.json",
  "namelist": {
    "source": [
      {"id": 0, "valid": "on", "name": "Camera"},
      {"id": "1", "valid": "OFF", "name": "PC"},
      {"id": 2, "valid": "off", "name": "Disabled"},
      {"id": 3, "valid": "on", "name": ""},
      {"id": 2, "valid": "on", "name": "Second"},
      {"id": "x", "valid": "on", "name": "Broken id"},
      {"id": 5, "name": "No valid"}
    ],
    "win": [ {"id": 1, "valid": "on", "name": "Window \u4e00"} ],
    "source": [ {"id": 4, "valid": "on", "name": "Shadowed section"} ]
  }
})";

class AliasTest : public ::testing::Test {
protected:
    zeltest::TempRoot root;
};

}  // namespace

TEST_F(AliasTest, LooksUpBySectionAndId)
{
    zeltest::writeText(kAliasFile, kAliases);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
    EXPECT_EQ(a.name, "Camera");
    EXPECT_EQ(get_json_alias_para(&a, "source", 1), 1);   // "OFF" is not "off"; numeric text id
    EXPECT_EQ(a.name, "PC");
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 0);   // the first entry of id 2 wins: off
    EXPECT_EQ(a.name, "Disabled");
    EXPECT_EQ(a.valid, "off");
    EXPECT_EQ(get_json_alias_para(&a, "source", 3), 0);   // empty name, entry still stored
    EXPECT_EQ(a.id, 3);
    EXPECT_EQ(a.valid, "on");
    EXPECT_EQ(a.name, "");
    EXPECT_EQ(get_json_alias_para(&a, "win", 1), 1);
    EXPECT_EQ(a.name, "Window \xE4\xB8\x80");
    EXPECT_TRUE(zeltest::fileExists(kAliasFile));
}

TEST_F(AliasTest, MissingSectionEntryOrFieldsLeaveTheAliasUnchanged)
{
    zeltest::writeText(kAliasFile, kAliases);
    ALIAS_PARA a;
    a.id = 77;
    a.name = "keep";
    EXPECT_EQ(get_json_alias_para(&a, "crop", 0), 0);
    EXPECT_EQ(get_json_alias_para(&a, "source", 4), 0);   // only the first "source" counts
    EXPECT_EQ(get_json_alias_para(&a, "source", 5), 0);   // entry without "valid"
    EXPECT_EQ(get_json_alias_para(&a, "source", 9), 0);
    EXPECT_EQ(a.id, 77);
    EXPECT_EQ(a.name, "keep");

    zeltest::writeText(kAliasFile, R"({"other": {}})");
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_TRUE(zeltest::fileExists(kAliasFile));
}

TEST_F(AliasTest, BrokenFileIsDeletedAndMissingFileGivesNothing)
{
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    zeltest::writeText(kAliasFile, R"({"namelist": {"source": [ {"id": 0, )");
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(zeltest::fileExists(kAliasFile));
    EXPECT_EQ(zeltest::readText(std::string(kAliasFile) + ".bad"), R"({"namelist": {"source": [ {"id": 0, )");
    // Nested deeper than the parser's stack takes: set aside before it is parsed.
    const std::string deep = R"({"namelist":)" + std::string(200000, '[');
    zeltest::writeText(kAliasFile, deep);
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_EQ(zeltest::readText(std::string(kAliasFile) + ".bad.2"), deep);
}

// Something else in the file's place is not waited on, nor read: it is moved aside and said.
TEST_F(AliasTest, SomethingElseInItsPlaceIsSetAsideWithoutWaiting)
{
    for (unusable::Kind kind : unusable::kKinds) {
        alerts::reset();
        unusable::forgetCopies(kAliasFile);
        unusable::make(kind, kAliasFile);
        ALIAS_PARA a;
        int found = -1;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(unusable::returnsInTime([&] { found = get_json_alias_para(&a, "source", 0); }, kAliasFile))
            << unusable::name(kind);
        unusable::expectOneLineFor(testing::internal::GetCapturedStderr(), kAliasFile, unusable::name(kind));
        EXPECT_EQ(found, 0);
        EXPECT_TRUE(unusable::is(kind, std::string(kAliasFile) + ".bad")) << unusable::name(kind);
    }
}

// A complete document followed by padding (NUL bytes, an end-of-file mark, junk) is the user's
// aliases: it is read, and stays where it is.
TEST_F(AliasTest, ACompleteDocumentFollowedByPaddingIsRead)
{
    for (const std::string& padding : {std::string(64, '\0'), std::string("\n\x1a"), std::string("}} junk"),
                                       std::string(2 << 20, '\0')}) {   // past the size limit
        zeltest::writeText(kAliasFile, kAliases + padding);
        ALIAS_PARA a;
        EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1) << padding.size();
        EXPECT_EQ(a.name, "Camera");
        EXPECT_TRUE(zeltest::fileExists(kAliasFile));
        EXPECT_FALSE(zeltest::fileExists(std::string(kAliasFile) + ".bad"));
    }
}

// A received alias file may be 1 MiB long: one of exactly 1 MiB is read, one a byte longer is
// set aside.
TEST_F(AliasTest, AFileOfOneMebibyteIsReadAndOneByteMoreSetAside)
{
    const size_t oneMiB = 1024 * 1024;
    std::string text = kAliases;
    text.resize(oneMiB, ' ');
    zeltest::writeText(kAliasFile, text);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
    zeltest::writeText(kAliasFile, text + " ");
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(zeltest::fileExists(kAliasFile));
    EXPECT_EQ(zeltest::readText(std::string(kAliasFile) + ".bad").size(), oneMiB + 1);
}
