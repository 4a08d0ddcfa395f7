// USB upgrade packages built in a temporary stick ("/mnt/usb1/" under the test root) and
// installed by the FPGA manager's upgrade steps into the simulated board.
#include <gtest/gtest.h>

#include <QSettings>

#include <algorithm>
#include <cstdlib>

#include <unistd.h>

#include "core/config_engine.h"
#include "engine/c331_manage.h"
#include "fpga_rig.h"
#include "ledout/usb_upgrade.h"
#include "platform/command_runner.h"
#include "platform/platform.h"
#include "sim/video_chip.h"
#include "support/upgrade_package.h"
#include "support/video_engine.h"

using fpgatest::Rig;
using zeltest::UpgradeChild;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kFolder = "/mnt/usb1/ZEL-T71/";
const std::array<uint8_t, 6> kOwnVersion = {25, 2, 26, 11, 2, 1};
const std::array<uint8_t, 6> kNewer = {26, 1, 1, 11, 3, 1};

class UpgradeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        usbupgrade::setSleep([](unsigned) {});
        g_usb_grade_path = "ZEL-T71";
        g_update_status = 0;
        g_app_reset_flag = 0;
        G_timeTicks = 1234;
        zeltest::writeText("/data/app/zelT71N", "running application");
        zeltest::simCommands().clearJournal();
    }
    void TearDown() override { usbupgrade::setSleep(nullptr); }

    // Starts an upgrade as the communication page does and runs its steps to the end.
    void run()
    {
        fpga_manage::set_job(0, 0);
        g_usb_grade = 1;
        for (int i = 0; i < 10 && g_usb_grade.load() != 0; ++i)
            rig.m->worker_step(rig.m);
        ASSERT_EQ(g_usb_grade.load(), 0);
    }
    static std::string app() { return zeltest::readText("/data/app/zelT71N"); }
    static Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
    bool journaled(const std::string& command)
    {
        const auto j = zeltest::simCommands().journal();
        return std::find(j.begin(), j.end(), command) != j.end();
    }
    std::vector<sim::SimSerialFlash::Op> flashOps(int device, uint8_t opcode)
    {
        std::vector<sim::SimSerialFlash::Op> out;
        for (auto& op : rig.flash(device).log())
            if (op.opcode == opcode && op.accepted)
                out.push_back(op);
        return out;
    }

    Rig rig;
};

// With the video engine on the simulated chip, for font packages.
class FontUpgradeTest : public UpgradeTest {
protected:
    void SetUp() override
    {
        UpgradeTest::SetUp();
        e = zeltest::newEngine();
        ASSERT_EQ(e->initialize(false), 0);
        e->load_system_param();
    }
    sim::VideoChipModel& chip = sim::attachVideoChip();
    c331_manage* e = nullptr;
};

}  // namespace

TEST_F(UpgradeTest, ApplicationReplacesTheRunningOneAndSchedulesTheRestart)
{
    const std::string next(70000, 'n');
    zeltest::writePackage(kFolder + "app.ZEL", zeltest::upgradePackage({{10, bytes(next), kNewer}}));
    run();
    EXPECT_EQ(app(), next);
    EXPECT_FALSE(zeltest::fileExists("/data/app/zelT71N2"));
    EXPECT_TRUE(journaled("chmod 777 -R /data/app"));
    EXPECT_TRUE(journaled("mv /data/app/zelT71N2  /data/app/zelT71N"));
    QSettings launcher(platform::rootPath(QString(ConfigEngine::kLauncherFile)), QSettings::IniFormat);
    EXPECT_EQ(launcher.value("app-1/app_path").toString(), "/data/app/zelT71N -platform linuxfb");
    EXPECT_EQ(launcher.value("app-1/app_name").toString(), "zelT71N");
    // As the launcher reads it: plain INI lines.
    const std::string record = zeltest::readText(ConfigEngine::kLauncherFile);
    EXPECT_NE(record.find("[app-1]"), std::string::npos) << record;
    EXPECT_NE(record.find("app_path=/data/app/zelT71N -platform linuxfb\n"), std::string::npos) << record;
    EXPECT_NE(record.find("app_name=zelT71N\n"), std::string::npos) << record;
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 1234u);
    EXPECT_EQ(rig.count(104), 1);
    EXPECT_EQ(g_update_flag.load(), 0);
    EXPECT_EQ(g_send_para[1], 0);
    EXPECT_NE(rig.m->usb_upgrade_time.find("    "), std::string::npos);
}

TEST_F(UpgradeTest, LauncherRecordFoundRightIsLeftAlone)
{
    g_update_status = 1;
    const std::string record = "[app-1]\napp_path=/data/app/zelT71N -platform linuxfb\napp_name=zelT71N\n; kept\n";
    zeltest::writeText(ConfigEngine::kLauncherFile, record);
    zeltest::writePackage(kFolder + "app.ZEL", zeltest::upgradePackage({{10, bytes("next"), kNewer}}));
    run();
    EXPECT_EQ(app(), "next");
    EXPECT_EQ(zeltest::readText(ConfigEngine::kLauncherFile), record);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// Diagnostics off or on, the packages are listed and installed all the same.
TEST_F(UpgradeTest, InstallsWhateverTheDebugSwitchSays)
{
    const uint8_t saved = g_debugSwitch;
    for (uint8_t value : {uint8_t(0), uint8_t(1), uint8_t(255), uint8_t(254)}) {
        g_debugSwitch = value;
        g_app_reset_flag = 0;
        const std::string next = "next " + std::to_string(value);
        zeltest::writePackage(kFolder + "app.ZEL", zeltest::upgradePackage({{10, bytes(next), kNewer}}));
        run();
        EXPECT_EQ(app(), next) << int(value);
        EXPECT_EQ(g_app_reset_flag.load(), 1) << int(value);
    }
    g_debugSwitch = saved;
}

TEST_F(UpgradeTest, SameVersionUnderPublishType128InstallsNothingOtherPublishTypesEverything)
{
    zeltest::writePackage(kFolder + "same.ZEL", zeltest::upgradePackage({{10, bytes("same"), kOwnVersion}}, 128));
    run();
    EXPECT_EQ(app(), "running application");
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_FALSE(journaled("mv /data/app/zelT71N2  /data/app/zelT71N"));

    zeltest::writePackage(kFolder + "same.ZEL", zeltest::upgradePackage({{10, bytes("again"), kOwnVersion}}, 0));
    run();
    EXPECT_EQ(app(), "again");
    EXPECT_EQ(g_app_reset_flag.load(), 1);

    // Under 128 a version that differs only in its last byte is another application.
    g_app_reset_flag = 0;
    const std::array<uint8_t, 6> otherFunction = {25, 2, 26, 11, 2, 2};
    zeltest::writePackage(kFolder + "same.ZEL", zeltest::upgradePackage({{10, bytes("func"), otherFunction}}, 128));
    run();
    EXPECT_EQ(app(), "func");
}

TEST_F(UpgradeTest, TruncatedOrOversizedPackagesInstallNothing)
{
    // The application child's data stops short of its length: nothing of the package is taken,
    // not even its sound FPGA program.
    Bytes pkg = zeltest::upgradePackage({{7, zeltest::upgradeProgram(5000), kNewer}, {10, bytes(std::string(4000, 'x')), kNewer}});
    pkg.resize(pkg.size() - 10);
    zeltest::writePackage(kFolder + "cut.ZEL", pkg);
    // A head that claims more children than the file holds.
    Bytes heads = zeltest::upgradePackage({{10, bytes("tiny"), kNewer}});
    heads[47] = 9;
    zeltest::writePackage(kFolder + "heads.ZELZK", heads);
    // A program that claims more bytes than its child holds.
    Bytes prog = zeltest::upgradeProgram(16);
    prog[31 + 2] = 0x01;
    zeltest::writePackage(kFolder + "claims.ZEL", zeltest::upgradePackage({{8, prog, kNewer}}));
    // A whole program longer than the space before the flash's data area at 0x6C7000.
    zeltest::writePackage(kFolder + "long.ZEL", zeltest::upgradePackage({{8, zeltest::upgradeProgram(0x6C7000 + 1), kNewer}}));
    // An application larger than the 5 MiB upgrade buffer.
    zeltest::writePackage(kFolder + "big.ZEL", zeltest::upgradePackage({{10, Bytes(5242880 + 1, 0x55), kNewer}}));
    run();
    EXPECT_EQ(app(), "running application");
    EXPECT_FALSE(zeltest::fileExists("/data/app/zelT71N2"));
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_TRUE(flashOps(2, 0x02).empty());
    EXPECT_TRUE(flashOps(3, 0x02).empty());
    EXPECT_FALSE(rig.m->reset_pending(0));
    EXPECT_FALSE(rig.m->reset_pending(1));
    EXPECT_EQ(rig.count(104), 1);
}

TEST_F(UpgradeTest, FailedApplicationWriteKeepsTheRunningOneAndRestartsNothing)
{
    // A directory where the temporary file goes: the write fails.
    ASSERT_TRUE(platform::makeParentDirs("/data/app/zelT71N2/x"));
    zeltest::writePackage(kFolder + "app.ZEL", zeltest::upgradePackage({{10, bytes("new"), kNewer}}));
    run();
    EXPECT_EQ(app(), "running application");
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_FALSE(journaled("mv /data/app/zelT71N2  /data/app/zelT71N"));
}

TEST_F(UpgradeTest, ProgramErasesAndWritesTheFlashThenPulsesTheReset)
{
    const Bytes program = zeltest::upgradeProgram(40000, 9);
    rig.board.flash[0]->write(0x9000, Bytes(16, 0x00));   // an old program's bytes
    zeltest::writePackage(kFolder + "fpga.ZEL", zeltest::upgradePackage({{7, program, kNewer}}));
    rig.board.flash[0]->clearLog();
    run();
    const auto e32 = flashOps(2, 0x52), e4 = flashOps(2, 0x20);
    ASSERT_EQ(e32.size(), 1u);
    EXPECT_EQ(e32[0].address, 0u);
    ASSERT_EQ(e4.size(), 2u);
    EXPECT_EQ(e4[0].address, 0x8000u);
    EXPECT_EQ(e4[1].address, 0x9000u);
    uint32_t programmed = 0;
    for (const auto& op : flashOps(2, 0x02))
        programmed += op.length;
    EXPECT_EQ(programmed, 40000u);
    EXPECT_EQ(rig.flash(2).contents(0, 40000), Bytes(program.begin() + 64, program.end()));
    EXPECT_TRUE(rig.m->reset_pending(0));
    EXPECT_FALSE(rig.m->reset_pending(1));
    EXPECT_TRUE(flashOps(3, 0x02).empty());
}

TEST_F(UpgradeTest, ProgramOfTheRunningVersionIsSkippedUnderPublishType128)
{
    // FPGA 1 runs 2026-03-14 function 5 (BCD date in registers 31, 30, 29; function in 28).
    rig.m->MCU_REG_func[1][31] = 0x26;
    rig.m->MCU_REG_func[1][30] = 0x03;
    rig.m->MCU_REG_func[1][29] = 0x14;
    rig.m->MCU_REG_func[1][28] = 5;
    const std::array<uint8_t, 6> running = {26, 3, 14, 7, 9, 5};   // hardware and software not compared
    zeltest::writePackage(kFolder + "fpga.ZEL", zeltest::upgradePackage({{8, zeltest::upgradeProgram(100), running}}, 128));
    run();
    EXPECT_TRUE(flashOps(3, 0x02).empty());
    EXPECT_FALSE(rig.m->reset_pending(1));

    // Another day, or another function, is another program.
    const std::array<uint8_t, 6> nextDay = {26, 3, 15, 7, 9, 5}, otherFunction = {26, 3, 14, 7, 9, 6};
    for (const auto& version : {nextDay, otherFunction}) {
        rig.flash(3).clearLog();
        zeltest::writePackage(kFolder + "fpga.ZEL", zeltest::upgradePackage({{8, zeltest::upgradeProgram(100), version}}, 128));
        run();
        EXPECT_FALSE(flashOps(3, 0x02).empty()) << int(version[2]) << " " << int(version[5]);
        EXPECT_TRUE(rig.m->reset_pending(1));
    }
}

TEST_F(UpgradeTest, FlashThatStaysBusyGetsNoProgramAndTheFpgaNoReset)
{
    rig.flash(2).setStuckBusy(true);
    zeltest::writePackage(kFolder + "fpga.ZEL", zeltest::upgradePackage({{7, zeltest::upgradeProgram(5000), kNewer}}));
    run();
    EXPECT_FALSE(rig.m->reset_pending(0));
}

TEST_F(UpgradeTest, ApplicationWithAProgramResetsNoFpgaAndStartsOnlyOnce)
{
    zeltest::writePackage(kFolder + "both.ZEL",
                          zeltest::upgradePackage({{7, zeltest::upgradeProgram(300), kNewer}, {10, bytes("next"), kNewer}}));
    // A second start while the upgrade runs is ignored.
    fpga_manage::set_job(0, 0);
    g_usb_grade = 1;
    rig.m->worker_step(rig.m);
    rig.m->worker_step(rig.m);
    fpga_manage::set_job(0, 0);
    rig.m->worker_step(rig.m);   // still the install, not a new start
    EXPECT_EQ(app(), "next");
    for (int i = 0; i < 10 && g_usb_grade.load() != 0; ++i)
        rig.m->worker_step(rig.m);
    EXPECT_EQ(rig.count(104), 1);
    EXPECT_EQ(app(), "next");
    EXPECT_FALSE(flashOps(2, 0x02).empty());
    EXPECT_FALSE(rig.m->reset_pending(0));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

TEST_F(UpgradeTest, PackagesListedByExactSuffixInTheFolderOrTheStickRoot)
{
    for (const char* name : {"a.ZEL", "b.ZELZK", "c.zel", "d.ZEL.bak", "e.ZELZ"})
        zeltest::writeText(kFolder + name, "x");
    zeltest::writeText(kFolder + "sub/f.ZEL", "x");
    zeltest::writeText(kFolder + "dir.ZEL/g", "x");   // a folder is no package
    // Nor is a link, even to a package.
    ASSERT_EQ(::symlink("a.ZEL", platform::rootPath(kFolder + "link.ZEL").c_str()), 0);
    zeltest::writeText("/mnt/usb1/root.ZEL", "x");
    EXPECT_EQ(rig.m->get_usb_file_list_path(), 2);
    auto list = rig.m->usb_file_list;
    std::sort(list.begin(), list.end());
    EXPECT_EQ(list, (std::vector<std::string>{kFolder + "a.ZEL", kFolder + "b.ZELZK"}));
    g_usb_grade_path = " ";
    EXPECT_EQ(rig.m->get_usb_file_list_path(), 1);
    EXPECT_EQ(rig.m->usb_file_list[0], "/mnt/usb1/root.ZEL");
}

TEST_F(FontUpgradeTest, FontsLandWhereTheirEncodingAndSizeSayAndReload)
{
    chip.setFlash(0x450000, Bytes(35, 0xFF));   // the 64-dot CJK font is missing
    e->read_c331_font(e->c331_fd);
    ASSERT_LT(ZelRamPara::p_zelrampara_config->reg_status[43] & 0x3F, 63);
    const Bytes cjk64 = zeltest::upgradeFont(0, 0x40, 40000);
    const Bytes odd = zeltest::upgradeFont(1, 0x30, 100);   // no such size: not over the ASCII font
    zeltest::writePackage(kFolder + "font.ZELZK", zeltest::upgradePackage({{13, odd, kNewer}, {13, cjk64, kNewer}}));
    const Bytes ascii32Before = chip.flash(0, 135);
    run();
    EXPECT_EQ(chip.flash(0x450000, uint32_t(cjk64.size())), cjk64);
    EXPECT_EQ(chip.flash(0, 135), ascii32Before);
    EXPECT_EQ(ZelRamPara::p_zelrampara_config->reg_status[43] & 0x3F, 63);   // reloaded
    EXPECT_EQ(e->font_bits, 0x0F);

    // With every font present a font child is passed over.
    const Bytes ascii32 = zeltest::upgradeFont(1, 0x20, 64);
    zeltest::writePackage(kFolder + "font.ZELZK", zeltest::upgradePackage({{13, ascii32, kNewer}}));
    run();
    EXPECT_EQ(chip.flash(0, 135), ascii32Before);
}

TEST_F(FontUpgradeTest, EveryEncodingAndSizeHasItsOwnPlace)
{
    chip.setFlash(0x450000, Bytes(35, 0xFF));   // one font missing: fonts are taken
    e->read_c331_font(e->c331_fd);
    struct Case { uint8_t encoding, size; int width; uint32_t address; Bytes font; };
    std::vector<Case> cases = {{1, 0x20, 0x10, 0x000000, {}}, {0, 0x20, 0x20, 0x010000, {}},
                               {1, 0x40, 0x20, 0x410000, {}}, {0, 0x40, 0x40, 0x450000, {}}};
    std::vector<UpgradeChild> children;
    for (Case& c : cases) {
        c.font = zeltest::upgradeFont(c.encoding, c.size, c.address == 0 ? 96 * 128 : 40000, c.width);
        chip.setFlash(c.address + 64, Bytes(64, 0x00));   // an old font's bits: erased first
        children.push_back({13, c.font, kNewer});
    }
    zeltest::writePackage(kFolder + "fonts.ZELZK", zeltest::upgradePackage(children));
    chip.withGfx([](sim::VideoChipGfx& g) { g.clearOps(); });
    run();
    for (const Case& c : cases)
        EXPECT_EQ(chip.flash(c.address, uint32_t(c.font.size())), c.font) << std::hex << c.address;
    // 40035 bytes from sector 16: one 32 KB block, then two 4 KB sectors.
    std::vector<std::pair<uint32_t, uint32_t>> erased;
    for (const auto& op : chip.withGfx([](sim::VideoChipGfx& g) { return g.ops(); }))
        if (op.kind == sim::VideoChipGfx::Op::Erase && op.done && op.address >= 0x10000 && op.address < 0x20000)
            erased.emplace_back(op.address, op.length);
    EXPECT_EQ(erased, (std::vector<std::pair<uint32_t, uint32_t>>{{0x10000, 0x8000}, {0x18000, 0x1000}, {0x19000, 0x1000}}));
}

TEST_F(FontUpgradeTest, AFlashThatStaysBusyGetsNoCommandFromAnyFontOfThePackage)
{
    chip.setFlash(0x450000, Bytes(35, 0xFF));
    e->read_c331_font(e->c331_fd);
    const Bytes cjk64 = zeltest::upgradeFont(0, 0x40, 40000);
    const Bytes ascii64 = zeltest::upgradeFont(1, 0x40, 96 * 512);
    zeltest::writePackage(kFolder + "fonts.ZELZK", zeltest::upgradePackage({{13, cjk64, kNewer}, {13, ascii64, kNewer}}));
    chip.withGfx([](sim::VideoChipGfx& g) { g.setNeverReady(true); });
    run();
    chip.withGfx([](sim::VideoChipGfx& g) {
        EXPECT_EQ(g.ignoredWhileBusy(), 0);
        g.setNeverReady(false);
    });
    EXPECT_TRUE(e->flash_left_busy());
    EXPECT_EQ(chip.flash(0x450000, 35), Bytes(35, 0xFF));
}

TEST_F(FontUpgradeTest, PackageOfAnotherControllerStillBringsItsFont)
{
    chip.setFlash(0x450000, Bytes(35, 0xFF));
    e->read_c331_font(e->c331_fd);
    // Its application is not for this device (and larger than this one's buffer): passed over.
    const Bytes font = zeltest::upgradeFont(0, 0x40, 1000);
    zeltest::writePackage(kFolder + "other.ZEL",
                          zeltest::upgradePackage({{10, Bytes(5242880 + 1, 0x55), kNewer},
                                                   {13, font, kNewer}}, 0, 0x1234));
    run();
    EXPECT_EQ(chip.flash(0x450000, uint32_t(font.size())), font);
    EXPECT_EQ(app(), "running application");
    EXPECT_EQ(g_app_reset_flag.load(), 0);
}

#ifdef ZEL_SOURCE_DIR
// The PC trial's package tool makes packages that install.
TEST_F(UpgradeTest, PackageFromThePcToolInstalls)
{
    if (std::system("command -v python3 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no python3";
    const std::string next(3000, 'q');
    const Bytes program(40000, 0x3C);
    zeltest::writeText("/tmp/app.bin", next);
    zeltest::writeFile("/tmp/fpga1.bin", program);
    const std::string cmd = std::string("python3 ") + ZEL_SOURCE_DIR + "/scripts/make_upgrade_package.py " +
                            platform::rootPath(kFolder + "pc.ZEL") + " --app " + platform::rootPath("/tmp/app.bin") +
                            " --fpga1 " + platform::rootPath("/tmp/fpga1.bin") + " >/dev/null";
    ASSERT_TRUE(platform::makeParentDirs(kFolder + "pc.ZEL"));
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    run();
    EXPECT_EQ(app(), next);
    EXPECT_EQ(rig.flash(3).contents(0, 40000), program);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}
#endif
