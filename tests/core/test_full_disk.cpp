#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <functional>
#include <string>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "platform/file_sync.h"
#include "support/test_root.h"

using namespace zeltest;

// A disk that is full at one step of a save (a write, the flush, the sync, the rename), or for
// every byte any writer of the process writes (the file size limit at 0): the save is answered as
// failed and the old file is as it was.
TEST(FullDisk, ASaveNotWholeOnTheDiskFailsAndLeavesTheOldFile)
{
    g_lcd_lang_valid = 0x1001F;
    ConfigEngine* config = ConfigEngine::pInstance();
    ZelRamPara* m = ZelRamPara::pInstance();
    // `save` saves a content made of n; true when answered as saved.
    struct Writer { const char* what; std::string path; std::function<bool(int)> save; };
    const Writer writers[] = {
        {"settings", "/data/configs/tcpip.ini",
         [&](int n) { return config->write_config_variant(ConfigItem::Barcode, QString("SN-%1").arg(n)); }},
        {"parameter file", "/data/ram_device_info",
         [&](int n) { return m->ram_para[0x880] = uint8_t(n), m->save_parameter_file() == 0; }},
        {"mode file", "/data/modes/custom_mode4",
         [&](int n) { return m->ram_para[0x400] = uint8_t(n), m->mode_file_write(3, 1) == 1; }},
        {"network file", "/etc/network/interfaces",
         [&](int n) { return Utils::write_network_interfaces(QString("02:00:00:00:00:%1").arg(n, 2, 16, QChar('0'))) == 0; }},
    };
    using platform::files::DiskFull;
    const std::pair<const char*, DiskFull> faults[] = {{"a write", {1 << 20}},   {"the flush", {0, 1, 0, 0}},
                                                       {"the sync", {0, 0, 1, 0}}, {"the rename", {0, 0, 0, 1}},
                                                       {"every byte", {}}};
    rlimit unlimited{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const rlimit none{0, unlimited.rlim_max};
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);   // a write past the limit fails with EFBIG
    int n = 0;
    for (const Writer& w : writers)
        for (const auto& [step, fault] : faults) {
            ASSERT_TRUE(w.save(++n)) << w.what;
            const std::string before = readText(w.path);
            platform::files::failAsFull(fault);
            if (std::string(step) == "every byte")
                setrlimit(RLIMIT_FSIZE, &none);
            const bool saved = w.save(++n);
            setrlimit(RLIMIT_FSIZE, &unlimited);
            platform::files::failAsFull({});
            EXPECT_FALSE(saved) << w.what << ": " << step;
            EXPECT_EQ(readText(w.path), before) << w.what << ": " << step;
        }
    std::signal(SIGXFSZ, ignored);
}
