// The EDID offered to the video sources: structure, checksums, the CVT reduced-blanking
// timing, and acceptance by Debian's edid-decode.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "chips/edid_builder.h"
#include "support/test_root.h"

namespace {

using edid_builder::cvt_timing;

struct Dtd {
    unsigned pixel_khz, hactive, hblank, vactive, vblank, hfront, hsync, vfront, vsync;
    uint8_t flags;
};

Dtd decodeDtd(const uint8_t* d)
{
    Dtd t{};
    t.pixel_khz = (d[0] | d[1] << 8) * 10u;
    t.hactive = d[2] | (d[4] >> 4) << 8;
    t.hblank = d[3] | (d[4] & 0x0F) << 8;
    t.vactive = d[5] | (d[7] >> 4) << 8;
    t.vblank = d[6] | (d[7] & 0x0F) << 8;
    t.hfront = d[8] | (d[11] >> 6) << 8;
    t.hsync = d[9] | ((d[11] >> 4) & 3) << 8;
    t.vfront = (d[10] >> 4) | ((d[11] >> 2) & 3) << 4;
    t.vsync = (d[10] & 0x0F) | (d[11] & 3) << 4;
    t.flags = d[17];
    return t;
}

bool hasEdidDecode() { return std::system("command -v edid-decode >/dev/null 2>&1") == 0; }

// Runs edid-decode --check on the bytes; returns its exit status and output.
int edidDecode(const uint8_t* edid, std::string& output)
{
    std::string dir = zeltest::makeTempDir("zel-edid-");
    std::string bin = dir + "/edid.bin", txt = dir + "/out.txt";
    std::ofstream(bin, std::ios::binary).write(reinterpret_cast<const char*>(edid), 256);
    int rc = std::system(("edid-decode --check " + bin + " >" + txt + " 2>&1").c_str());
    std::ifstream in(txt);
    output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::system(("rm -rf " + dir).c_str());
    return rc;
}

}  // namespace

// Known VESA CVT-RB modes.
TEST(CvtReducedBlanking, MatchesTheVesaModes)
{
    cvt_timing t{};
    ASSERT_TRUE(edid_builder::cvt_reduced_blanking(1920, 1080, 60, t));
    EXPECT_EQ(t.htotal, 2080);
    EXPECT_EQ(t.vtotal, 1111);
    EXPECT_EQ(t.pixel_khz, 138500u);
    EXPECT_EQ(t.hfront, 48);
    EXPECT_EQ(t.hsync, 32);
    EXPECT_EQ(t.vfront, 3);
    EXPECT_EQ(t.vsync, 5);
    EXPECT_TRUE(t.hsync_positive);
    EXPECT_FALSE(t.vsync_positive);

    ASSERT_TRUE(edid_builder::cvt_reduced_blanking(1280, 800, 60, t));  // 16:10
    EXPECT_EQ(t.htotal, 1440);
    EXPECT_EQ(t.vtotal, 823);
    EXPECT_EQ(t.vsync, 6);
    EXPECT_EQ(t.pixel_khz, 71000u);

    ASSERT_TRUE(edid_builder::cvt_reduced_blanking(3840, 2160, 30, t));
    EXPECT_EQ(t.htotal, 4000);
    EXPECT_EQ(t.vactive, 2160);
    EXPECT_EQ(t.pixel_khz % 250, 0u);
}

TEST(CvtReducedBlanking, RefusesModesADetailedTimingCannotCarry)
{
    cvt_timing t{};
    EXPECT_FALSE(edid_builder::cvt_reduced_blanking(0, 1080, 60, t));
    EXPECT_FALSE(edid_builder::cvt_reduced_blanking(1920, 0, 60, t));
    EXPECT_FALSE(edid_builder::cvt_reduced_blanking(1920, 1080, 0, t));
    EXPECT_FALSE(edid_builder::cvt_reduced_blanking(8192, 1080, 60, t));
    EXPECT_FALSE(edid_builder::cvt_reduced_blanking(3840, 2160, 120, t));  // above 655.35 MHz
    EXPECT_FALSE(edid_builder::cvt_reduced_blanking(1920, 1080, 5000, t)); // no time left for lines
}

TEST(EdidBuilder, BuildsBaseAndCeaBlocksWithThePreferredMode)
{
    uint8_t edid[256];
    ASSERT_TRUE(edid_builder::build_edid(3840, 2160, 30, edid));
    EXPECT_TRUE(edid_builder::edid_valid(edid));
    EXPECT_EQ(edid[18], 1);
    EXPECT_EQ(edid[19], 3);
    EXPECT_EQ(edid[126], 1);
    EXPECT_EQ(edid[128], 0x02);  // CEA-861 extension
    EXPECT_EQ(edid[127], edid_builder::block_checksum(edid));
    EXPECT_EQ(edid[255], edid_builder::block_checksum(edid + 128));

    cvt_timing t{};
    ASSERT_TRUE(edid_builder::cvt_reduced_blanking(3840, 2160, 30, t));
    Dtd d = decodeDtd(edid + 54);
    EXPECT_EQ(d.hactive, 3840u);
    EXPECT_EQ(d.vactive, 2160u);
    EXPECT_EQ(d.pixel_khz, t.pixel_khz);
    EXPECT_EQ(d.hblank, 160u);
    EXPECT_EQ(d.vblank, unsigned(t.vtotal - 2160));
    EXPECT_EQ(d.hfront, 48u);
    EXPECT_EQ(d.hsync, 32u);
    EXPECT_EQ(d.vfront, 3u);
    EXPECT_EQ(d.vsync, 5u);
    EXPECT_EQ(d.flags, 0x1A);  // digital separate sync, H+ V-
    // The refresh the source will compute from the timing is the requested one.
    double hz = d.pixel_khz * 1000.0 / ((d.hactive + d.hblank) * (d.vactive + d.vblank));
    EXPECT_NEAR(hz, 30.0, 0.05);

    uint8_t untouched[256];
    std::fill(untouched, untouched + 256, 0xAB);
    EXPECT_FALSE(edid_builder::build_edid(0, 0, 0, untouched));
    EXPECT_EQ(untouched[0], 0xAB);
}

TEST(EdidBuilder, EdidDecodeAcceptsTheBuiltEdids)
{
    if (!hasEdidDecode())
        GTEST_SKIP() << "edid-decode is not installed";
    const uint16_t modes[][3] = {{3840, 2160, 30}, {1920, 1080, 60}, {3840, 2160, 60},
                                 {1280, 1024, 75}, {1024, 768, 60}, {2560, 1080, 50}};
    for (const auto& m : modes) {
        uint8_t edid[256];
        ASSERT_TRUE(edid_builder::build_edid(m[0], m[1], m[2], edid));
        std::string out;
        int rc = edidDecode(edid, out);
        EXPECT_EQ(rc, 0) << m[0] << "x" << m[1] << "@" << m[2] << "\n" << out;
        EXPECT_EQ(out.find("Failures:"), std::string::npos) << out;
    }
}
