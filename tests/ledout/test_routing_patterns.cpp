// Where each of the 16 routing patterns places every card of a chain, drawn as the screen seen
// from the front: one text row per cabinet row, top first, each character the chain index (hex)
// of the card in that column.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "card_jobs_rig.h"

namespace {

using fpgatest::JobRig;

constexpr uint16_t kW = 128, kH = 64;

struct Drawing {
    uint8_t pattern;
    std::vector<std::string> rows;
};

// Rows patterns on 3 rows x 4 columns, columns patterns likewise; pattern 12 on a square grid,
// where its columns walk and its rows count cannot disagree.
const Drawing kDrawings[] = {
    {1, {"ba98", "4567", "3210"}},  {2, {"89ab", "7654", "0123"}},  {3, {"3210", "4567", "ba98"}},
    {4, {"0123", "7654", "89ab"}},  {5, {"9832", "a741", "b650"}},  {6, {"b650", "a741", "9832"}},
    {7, {"056b", "147a", "2389"}},  {8, {"2389", "147a", "056b"}},  {9, {"ba98", "7654", "3210"}},
    {10, {"0123", "4567", "89ab"}}, {11, {"89ab", "4567", "0123"}}, {12, {"258", "147", "036"}},
    {13, {"b852", "a741", "9630"}}, {14, {"0369", "147a", "258b"}}, {15, {"258b", "147a", "0369"}},
    {16, {"9630", "a741", "b852"}},
};

}  // namespace

TEST(RoutingPatterns, EveryPatternPlacesEachCardAtItsDrawnCell)
{
    JobRig rig({});
    const LineType saved = line_type;
    for (const Drawing& d : kDrawings) {
        const auto rows = static_cast<uint8_t>(d.rows.size());
        const auto columns = static_cast<uint8_t>(d.rows[0].size());
        line_type = LineType{kW, kH, 0, 0, 0, rows, columns, d.pattern};
        for (unsigned row = 0; row < rows; ++row) {
            for (unsigned column = 0; column < columns; ++column) {
                const int index = std::stoi(std::string(1, d.rows[row][column]), nullptr, 16);
                unsigned short x = 0xFFFF, y = 0xFFFF;
                rig.m->get_rcvcard_x_y(index, &x, &y);
                EXPECT_EQ(std::make_pair(unsigned(x), unsigned(y)), std::make_pair(column * kW, row * kH))
                    << "pattern " << int(d.pattern) << ", card " << index;
            }
        }
    }
    line_type = saved;
}
