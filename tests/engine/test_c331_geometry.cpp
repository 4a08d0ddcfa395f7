// The pure window-geometry calculations with the worked numbers of the engine's design.
#include <gtest/gtest.h>

#include "engine/c331_geometry.h"

using namespace geometry;

namespace {

geometry::IwinSource fullHd()
{
    IwinSource s;
    s.columns = s.rows = 1;
    s.hact = 1920;
    s.vact = 1080;
    s.mainIch = 0;
    return s;
}

}  // namespace

TEST(Geometry, ScalingRatiosAreSixteenSixteenBothWays)
{
    _ImageWindowDef_st in{0, 1920, 0, 1080}, out{0, 1280, 0, 720};
    _ScalingSt s = calcScaling(in, out);
    EXPECT_EQ(s.hmode, 1);
    EXPECT_EQ(s.hshrink, 43680u);
    EXPECT_EQ(s.hzoom, 0u);
    EXPECT_EQ(s.vmode, 1);
    EXPECT_EQ(s.vshrink, 43671u);
    s = calcScaling(out, in);
    EXPECT_EQ(s.hmode, 2);
    EXPECT_EQ(s.hzoom, 43680u);
    EXPECT_EQ(s.hshrink, 0u);
    EXPECT_EQ(s.vmode, 2);
    EXPECT_EQ(s.vzoom, 43671u);
    s = calcScaling(in, in);
    EXPECT_EQ(s.hmode, 0);
    EXPECT_EQ(s.hshrink | s.hzoom | s.vshrink | s.vzoom, 0u);
    // Sizes of 0 or 1 never divide.
    _ImageWindowDef_st none{0, 0, 0, 1};
    s = calcScaling(none, out);
    EXPECT_EQ(s.hmode, 0);
    EXPECT_EQ(ratio(1280, 1), 0u);
    // One pixel to two is still a zoom: both sizes are above 0.
    s = calcScaling(_ImageWindowDef_st{0, 1, 0, 1}, _ImageWindowDef_st{0, 2, 0, 2});
    EXPECT_EQ(s.hmode, 2);
    EXPECT_EQ(s.hzoom, 1u);
    // The products stay exact at the largest sizes.
    EXPECT_EQ(ratio(65535, 2), 65534u * 65536u + 1u);
}

TEST(Geometry, AWindowIsCutIntoPiecesPerColumnWithMarks)
{
    _ImageWindowDef2_St p[kGridMax];
    calcOact(_ImageWindowDef_st{1500, 1000, 100, 500}, 1920, 1080, 2, 1, p);
    EXPECT_EQ(p[0].HST, 1500);
    EXPECT_EQ(p[0].HW, 420);
    EXPECT_EQ(p[1].HST, 0);
    EXPECT_EQ(p[1].HW, 580);
    EXPECT_EQ(p[0].firstH, 1);
    EXPECT_EQ(p[0].lastH, 0);
    EXPECT_EQ(p[1].firstH, 0);
    EXPECT_EQ(p[1].lastH, 1);
    EXPECT_EQ(p[0].VST, 100);
    EXPECT_EQ(p[0].VW, 500);
    EXPECT_EQ(p[0].firstV + p[0].lastV, 2);
    // A window inside the second column leaves the first without a piece.
    calcOact(_ImageWindowDef_st{2000, 100, 0, 10}, 1920, 1080, 2, 1, p);
    EXPECT_EQ(p[0].HW, 0);
    EXPECT_EQ(p[1].HST, 80);
    EXPECT_EQ(p[1].HW, 100);
    EXPECT_EQ(p[1].firstH, 1);
    // No channel size: no pieces.
    calcOact(_ImageWindowDef_st{0, 100, 0, 100}, 0, 0, 2, 2, p);
    EXPECT_EQ(p[0].HW | p[1].HW | p[0].VW, 0);
}

TEST(Geometry, ZoomedColumnsStartWhereTheirFirstPixelFalls)
{
    const uint32_t z = ratio(960, 3840);
    EXPECT_EQ(z, 16372u);
    EXPECT_EQ(uint64_t(1920) * z, 31434240u);
    EXPECT_EQ(zoomMemPos(1920, z), 480u);   // 479 and a fraction of 42496, not below one step
    EXPECT_EQ(zoomMemPos(0, z), 0u);
    EXPECT_EQ(zoomMemPos(1, z), 1u);   // a remainder equal to one step is not below it
}

TEST(Geometry, CropsFallBackToTheWholePictureInsteadOfReadingPastIt)
{
    IwinSource s = fullHd();
    s.crop = true;
    s.left = 100;
    s.right = 20;
    s.up = 40;
    s.down = 40;
    _ImageWindowDef_st iw = calcIwin(s);
    EXPECT_EQ(iw.HST, 100);
    EXPECT_EQ(iw.HW, 1800);
    EXPECT_EQ(iw.VST, 40);
    EXPECT_EQ(iw.VW, 1000);
    // Starting beyond the width: start 0.
    s.left = 2000;
    s.right = -2000;
    iw = calcIwin(s);
    EXPECT_EQ(iw.HST, 0);
    // No width left: the whole width from 0.
    s.left = 1900;
    s.right = 100;
    iw = calcIwin(s);
    EXPECT_EQ(iw.HST, 0);
    EXPECT_EQ(iw.HW, 1920);
    s.up = 1000;
    s.down = 200;
    iw = calcIwin(s);
    EXPECT_EQ(iw.VST, 0);
    EXPECT_EQ(iw.VW, 1080);
}

TEST(Geometry, InputWindowsOfFieldsWideInputsAndDotByDot)
{
    IwinSource s = fullHd();
    s.vact = 540;
    s.scan = true;
    EXPECT_EQ(calcIwin(s).VW, 1080);   // fields on channels 0-3 are woven to frames
    s.mainIch = 4;
    EXPECT_EQ(calcIwin(s).VW, 540);    // channels 4-7 keep the field height
    // A crop is set in frame lines: frame lines 270-809 are field lines 135-404 there.
    s.crop = true;
    s.up = s.down = 270;
    EXPECT_EQ(calcIwin(s).VST, 135);
    EXPECT_EQ(calcIwin(s).VW, 270);
    s.mainIch = 0;
    EXPECT_EQ(calcIwin(s).VST, 270);
    EXPECT_EQ(calcIwin(s).VW, 540);
    s = fullHd();
    s.hact = 1920;
    s.wide = true;
    EXPECT_EQ(calcIwin(s).HW, 3840);
    s = fullHd();
    s.dbdMode = 41;   // four inputs as a quad
    for (int p = 0; p < 4; ++p) {
        s.dbdW[p] = 1920;
        s.dbdH[p] = 1080;
    }
    _ImageWindowDef_st iw = calcIwin(s);
    EXPECT_EQ(iw.HW, 3840);
    EXPECT_EQ(iw.VW, 2160);
    s.dbdMode = 40;
    EXPECT_EQ(calcIwin(s).HW, 7680);
    s.dbdMode = 1;
    s.ownPort = 2;
    EXPECT_EQ(calcIwin(s).HW, 1920);
    s.ownPort = 6;
    EXPECT_EQ(calcIwin(s).HW, 0);
    s = fullHd();
    s.columns = 0;
    EXPECT_EQ(calcIwin(s).HW, 0);
}

TEST(Geometry, OutputWindowInsideItsGrid)
{
    const int margins[4] = {100, 20, 50, 30};
    _ImageWindowDef_st ow = calcOwin(1920, 1080, 2, 1, margins, 0, false, nullptr);
    EXPECT_EQ(ow.HST, 100);
    EXPECT_EQ(ow.HW, 3840 - 120);
    EXPECT_EQ(ow.VST, 50);
    EXPECT_EQ(ow.VW, 1000);
    const int wide[4] = {0, 5000, 0, 0};
    EXPECT_EQ(calcOwin(1920, 1080, 1, 1, wide, 0, false, nullptr).HW, 0);
    // Dot-by-dot shows pixels one to one: the larger side takes the smaller.
    _ImageWindowDef_st iw{0, 1280, 0, 2000};
    const int none[4] = {};
    ow = calcOwin(1920, 1080, 1, 1, none, 1, false, &iw);
    EXPECT_EQ(ow.HW, 1280);
    EXPECT_EQ(iw.VW, 1080);
    // With the fit flag only the input is clipped; the output keeps its grid size.
    _ImageWindowDef_st big{0, 2500, 0, 500};
    ow = calcOwin(1920, 1080, 1, 1, none, 1, true, &big);
    EXPECT_EQ(big.HW, 1920);
    EXPECT_EQ(big.VW, 500);
    EXPECT_EQ(ow.HW, 1920);
    EXPECT_EQ(ow.VW, 1080);
}

TEST(Geometry, LineBytesPerMemoryMode)
{
    EXPECT_EQ(lineBytes(1920, 0), 7680u);
    EXPECT_EQ(lineBytes(7, 1), 16u + 6u);
    EXPECT_EQ(lineBytes(4, 2), 16u);   // padded to 6 pixels
    EXPECT_EQ(lineBytes(1920, 3), 3840u);
    // An 8 KiB slot: 2048, 2560, 3072 and 4096 pixels; no mode holds 4097.
    EXPECT_EQ(widestLine(8192, 0), 2048u);
    EXPECT_EQ(widestLine(8192, 1), 2560u);
    EXPECT_EQ(widestLine(8192, 2), 3072u);
    EXPECT_EQ(widestLine(8192, 3), 4096u);
    EXPECT_EQ(memModeFor(2049, 8192), 1);
    EXPECT_EQ(memModeFor(4096, 8192), 3);
    EXPECT_EQ(memModeFor(4097, 8192), kNoMode);
    EXPECT_EQ(shrunkCount(5120, fitRatio(5120, 0, 4096)), 4096u);
    EXPECT_EQ(fitRatio(1920, 0, 4096), 0u);
    // 1903 shrunk to 1000 from 17: 1008 stored, the read starts at 8 so it ends at the last.
    EXPECT_EQ(readFrom(17, 1, ratio(1000, 1903), 0, 1000, 1008), 8);
    EXPECT_EQ(shrinkPhase(0, 43680), 0u);
    EXPECT_EQ(shrinkPhase(3, 43680), 1u);    // 256 - (511 mod 256)
    EXPECT_EQ(shrinkPhase(1, 65536), 0u);    // a whole step: 256 is written as 0
}

TEST(Geometry, ZoomedPiecesOnOneStoredSampleMeetInTheOrderTheyShowIt)
{
    // Zoomed 25 times, 30 samples read 2 stored ones; both pieces start on stored sample 5.
    const int shown[2] = {30, 30};
    uint32_t plain[2] = {5, 5}, mirrored[2] = {5, 5};
    meetNeighbours(plain, shown, 2, 65536 / 25);
    meetNeighbours(mirrored, shown, 2, 65536 / 25, true);
    EXPECT_EQ(plain[0], 4u);      // the left piece comes first in memory
    EXPECT_EQ(plain[1], 5u);
    EXPECT_EQ(mirrored[0], 5u);   // shown right to left: the right piece comes first
    EXPECT_EQ(mirrored[1], 4u);
}

TEST(Geometry, StitchingRoles)
{
    int map[kWinCount] = {0, 1, 2, 3, 4, 5};
    int w = 2, partner = 0;
    EXPECT_EQ(stitchRole(map, &w, &partner), 0);
    EXPECT_EQ(partner, -1);
    map[3] = 2;   // window 3 is stitched to master 2
    w = 2;
    EXPECT_EQ(stitchRole(map, &w, &partner), 1);
    EXPECT_EQ(partner, 3);
    w = 3;
    EXPECT_EQ(stitchRole(map, &w, &partner), 2);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(partner, 3);
    map[5] = 2;   // two windows name master 2: the last one is its partner
    w = 2;
    EXPECT_EQ(stitchRole(map, &w, &partner), 1);
    EXPECT_EQ(partner, 5);
}
