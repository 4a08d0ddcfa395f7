// The OSD menu file: reading it into the list and applying the first entry as the engine's
// OSD settings (recorded here by a target that stands for the engine).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>
#include <vector>

#include "core/omenu.h"
#include "support/test_root.h"
#include "unusable_file.h"

namespace {

const char* kText = R"({
  "name": "subtitle",
  "osdcount": 1,
  "oactcount": "1",
  "menu": {
    "osd1": {
      "type": 0, "status": "on",
      "pos": {"x": 10, "y": 20, "w": 5000, "h": 4000, "layer": "buttom"},
      "act": {"effect": 3, "speed": "2", "staytime": 5},
      "backpara": {"enable": "on", "color": "0x123456"},
      "fontpara": {"startx": 4, "starty": 6, "fontw": 64, "fonth": 64, "wordspace": 2,
                   "verticalspace": 3, "color": "FF0000"},
      "texts": ["Hi\n\n\u4e01"]
    },
    "osd2": {"type": 1, "status": "off", "pos": {"x": 1, "y": 2, "w": 3, "h": 4},
             "act": {"effect": 0, "speed": 0, "staytime": 0}, "bmppara": {"start": 7, "end": 9}},
    "osd3": {"type": 7, "status": "on"},
    "osd4": {"type": 0, "status": "late"},
    "osd5": {"type": 0, "status": "later"}
  }
})";

struct Call {
    int type, value;
    bool operator==(const Call& o) const { return type == o.type && value == o.value; }
};
std::ostream& operator<<(std::ostream& os, const Call& c) { return os << "(" << c.type << "," << c.value << ")"; }

class Recorder : public OsdTarget {
public:
    void loadChar() override { calls.push_back({-1, 0}); }
    int osdSet(int type, int value) override
    {
        calls.push_back({type, value});
        return 1;
    }
    int osdSetUnicode(int n, const int* lengths, const wchar_t text[][kLineCodes]) override
    {
        calls.push_back({-2, n});
        lines.clear();
        for (int i = 0; i < n; ++i)
            lines.emplace_back(text[i], text[i] + lengths[i]);
        return 0;
    }
    std::vector<Call> calls;
    std::vector<std::wstring> lines;
};

class OmenuTest : public ::testing::Test {
protected:
    zeltest::TempRoot root;
    OSD_LIST list;
};

}  // namespace

TEST_F(OmenuTest, TextEntryAppliedAsTheEngineSettingSequence)
{
    zeltest::writeText(kOmenuFile, kText);
    ASSERT_EQ(get_json_omenu_para(kOmenuFile, &list), 0);
    EXPECT_EQ(list.item[0].osdcount, 1);
    EXPECT_EQ(list.item[0].oactcount, 1);
    EXPECT_EQ(list.item[1].type, 1);
    EXPECT_EQ(list.item[1].bmp_start, 7);   // "start"/"end" found inside "bmppara"
    EXPECT_EQ(list.item[2].type, 7);
    EXPECT_EQ(list.item[2].status, "on");

    Recorder r;
    apply_omenu_entry(&list.item[0], r, 1920, 1080);
    EXPECT_EQ(list.item[0].w, 1910);   // cut to end at the screen's right edge
    EXPECT_EQ(list.item[0].h, 1060);   // and at its bottom edge
    const std::vector<Call> expect = {
        {-1, 0},  {5, 10},  {6, 1910}, {7, 20},  {8, 1060}, {9, 10},    {10, 1910}, {11, 20}, {12, 1060},
        {3, 1},   {1, 0},   {2, 0},    {14, 1},  {21, 4},   {22, 6},    {-2, 3},    {17, 0x0000FF},
        {13, 20}, {16, 0x563412},      {18, 0},  {4, 1},    {0, 1},     {33, 1},    {34, 2},  {35, 3}};
    EXPECT_EQ(r.calls, expect);
    EXPECT_EQ(r.lines, (std::vector<std::wstring>{L"Hi", L"", L"\u4e01"}));
}

TEST_F(OmenuTest, CountZeroReadsNothingAndAppliesNothing)
{
    list.item[1].status = "kept";
    zeltest::writeText(kOmenuFile, R"({"name": "none", "osdcount": 0, "oactcount": 0})");
    ASSERT_EQ(get_json_omenu_para(kOmenuFile, &list), 0);
    EXPECT_EQ(list.item[0].osdcount, 0);
    EXPECT_EQ(list.item[1].status, "kept");
    Recorder r;
    apply_omenu_entry(&list.item[0], r, 1920, 1080);
    EXPECT_TRUE(r.calls.empty());
}

TEST_F(OmenuTest, EffectsSizesAndBackgroundOff)
{
    const std::pair<int, int> effects[] = {{0, 0}, {1, 3}, {2, 4}, {3, 1}, {4, 2}};
    OMENU_PARA p;
    p.osdcount = 1;
    p.back_enable = "off";
    p.fontw = p.fonth = 128;
    for (auto [effect, mode] : effects) {
        p.effect = effect;
        Recorder r;
        apply_omenu_entry(&p, r, 1920, 1080);
        EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), Call{4, mode}), r.calls.end()) << effect;
        EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), Call{18, 1}), r.calls.end());
        EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), Call{1, 1}), r.calls.end());
    }
    p.effect = 5;
    p.fontw = 32;
    p.fonth = 64;
    Recorder r;
    apply_omenu_entry(&p, r, 1920, 1080);
    for (const Call& c : r.calls) {
        EXPECT_NE(c.type, 4);   // an unknown effect sets no scroll mode
        EXPECT_NE(c.type, 1);   // an odd cell size sets only the character size
    }
    EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), Call{14, 0}), r.calls.end());

    // The character-size settings of each cell size, in order.
    const std::pair<int, std::vector<Call>> sizes[] = {{32, {{1, 0}, {2, 0}, {14, 0}}},
                                                       {64, {{1, 0}, {2, 0}, {14, 1}}},
                                                       {128, {{1, 1}, {2, 1}, {14, 1}}},
                                                       {96, {{14, 0}}}};
    for (const auto& [cell, expected] : sizes) {
        p.fontw = p.fonth = cell;
        Recorder sized;
        apply_omenu_entry(&p, sized, 1920, 1080);
        std::vector<Call> got;
        std::copy_if(sized.calls.begin(), sized.calls.end(), std::back_inserter(got),
                     [](const Call& c) { return c.type == 1 || c.type == 2 || c.type == 14; });
        EXPECT_EQ(got, expected) << cell;
    }

    // A bitmap entry, switched off, on the top layer.
    p.type = 1;
    p.status = "off";
    p.layer = "top";
    Recorder bitmap;
    apply_omenu_entry(&p, bitmap, 1920, 1080);
    for (const Call& c : {Call{3, 0}, Call{0, 0}, Call{33, 0}})
        EXPECT_NE(std::find(bitmap.calls.begin(), bitmap.calls.end(), c), bitmap.calls.end()) << c;
    EXPECT_EQ(omenu_color("#00FF80"), 0x80FF00);
    EXPECT_EQ(omenu_color("nonsense"), 0);
}

TEST_F(OmenuTest, SixtyFourLinesAtMostEachCutToTheLineBuffer)
{
    OMENU_PARA p;
    p.osdcount = 1;
    std::string t;
    for (int i = 0; i < 70; ++i)
        t += std::string(i == 0 ? 200 : 1, 'a') + "\n";
    p.texts = t;
    Recorder r;
    apply_omenu_entry(&p, r, 1920, 1080);
    ASSERT_EQ(r.lines.size(), 64u);
    EXPECT_EQ(r.lines[0].size(), 127u);
}

TEST_F(OmenuTest, BrokenFilesAreReportedAndDeletedNeverThrown)
{
    list.item[0].texts = "earlier";
    // Not JSON: the mode copy that was read is deleted, the live file stays.
    zeltest::writeText("/data/modes/MO03.json", "{ broken");
    zeltest::writeText(kOmenuFile, kText);
    EXPECT_EQ(get_json_omenu_para("/data/modes/MO03.json", &list), 255);
    EXPECT_FALSE(zeltest::fileExists("/data/modes/MO03.json"));
    EXPECT_EQ(zeltest::readText("/data/modes/MO03.json.bad"), "{ broken");
    EXPECT_TRUE(zeltest::fileExists(kOmenuFile));
    EXPECT_EQ(list.item[0].osdcount, 0);
    // JSON without a member its entry needs, or with a non-numeric integer: same handling,
    // and the list keeps what it had.
    // Nested deeper than the parser's stack takes, or a text longer than any menu's: the same,
    // before the parser sees it.
    for (const std::string& bad : {std::string(R"({"name":"a","osdcount":1,"oactcount":1,"menu":{"o":{"type":0,"status":"on"}}})"),
                                   std::string(R"({"name":"a","osdcount":"one","oactcount":1})"),
                                   std::string(R"({"name":"a","osdcount":1,"oactcount":1})"),
                                   R"({"a":)" + std::string(200000, '['),
                                   R"({"name":")" + std::string(70000, 'x') + R"(","osdcount":0,"oactcount":0})"}) {
        zeltest::writeText(kOmenuFile, bad);
        EXPECT_EQ(get_json_omenu_para(kOmenuFile, &list), 255) << bad.substr(0, 80);
        EXPECT_EQ(list.item[0].osdcount, 0);
        EXPECT_EQ(list.item[0].texts, "earlier");
        EXPECT_FALSE(zeltest::fileExists(kOmenuFile));
    }
    // A missing file: count 0, nothing else.
    EXPECT_EQ(get_json_omenu_para(kOmenuFile, &list), 255);
}

// A complete document followed by NUL padding is the user's menu: it is read and stays.
TEST_F(OmenuTest, ACompleteDocumentFollowedByPaddingIsRead)
{
    zeltest::writeText(kOmenuFile, kText + std::string(32, '\0'));
    EXPECT_EQ(get_json_omenu_para(kOmenuFile, &list), 0);
    EXPECT_EQ(list.item[0].osdcount, 1);
    EXPECT_EQ(list.item[0].fontw, 64);
    EXPECT_TRUE(zeltest::fileExists(kOmenuFile));
}

// Something else in the menu file's place is not waited on, nor read: moved aside and said, and
// the count stays 0.
TEST_F(OmenuTest, SomethingElseInItsPlaceIsSetAsideWithoutWaiting)
{
    for (unusable::Kind kind : unusable::kKinds) {
        alerts::reset();
        unusable::forgetCopies(kOmenuFile);
        unusable::make(kind, kOmenuFile);
        OSD_LIST list;
        int result = 0;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(unusable::returnsInTime([&] { result = get_json_omenu_para(kOmenuFile, &list); }, kOmenuFile))
            << unusable::name(kind);
        unusable::expectOneLineFor(testing::internal::GetCapturedStderr(), kOmenuFile, unusable::name(kind));
        EXPECT_EQ(result, 255);
        EXPECT_EQ(list.item[0].osdcount, 0);
        EXPECT_TRUE(unusable::is(kind, std::string(kOmenuFile) + ".bad")) << unusable::name(kind);
    }
}

// Whatever a received file holds, the OSD ends on the screen, its text start and spacing inside it.
TEST_F(OmenuTest, PositionsAndSizesAreKeptOnTheScreen)
{
    struct Case {
        int x, y, w, h, startx, space;
        int ex, ey, ew, eh, estartx, espace;
    };
    const Case cases[] = {
        {100, 50, 300, 200, 7, 3, 100, 50, 300, 200, 7, 3},                        // inside: unchanged
        {1900, 1070, 300, 200, 400, 500, 1900, 1070, 20, 10, 20, 20},              // cut at the edges
        {-40, -3, -8, -9, -1, -2, 0, 0, 0, 0, 0, 0},                               // nothing negative
        {INT_MAX, INT_MIN, INT_MAX, INT_MAX, INT_MAX, INT_MIN, 1920, 0, 0, 1080, 0, 0},
    };
    for (const Case& c : cases) {
        OMENU_PARA p;
        p.osdcount = 1;
        p.x = c.x, p.y = c.y, p.w = c.w, p.h = c.h, p.startx = c.startx, p.wordspace = c.space;
        place_on_screen(p, 1920, 1080);
        EXPECT_EQ((std::vector<int>{p.x, p.y, p.w, p.h, p.startx, p.wordspace}),
                  (std::vector<int>{c.ex, c.ey, c.ew, c.eh, c.estartx, c.espace}))
            << c.x << "," << c.y;
    }
}
