// Random bytes as the files the box reads that users and PC software send: the first byte picks
// the settings file (read by a start of the configuration store), the OSD menu or the alias file
// (each read as the engine and the pages read it), the rest is the file. On a simulated board in
// a private root directory. A start always leaves every setting with a value.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/alias.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/omenu.h"
#include "fuzz/fuzz_root.h"
#include "platform/platform.h"

namespace {

void setUp()
{
    // In memory where there is room: every start syncs its files several times.
    fuzzroot::makeRoot(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path(),
                       "zel-fuzz-files");
}

// A fresh data folder holding only `bytes` at `systemPath`.
void place(const char* systemPath, const uint8_t* bytes, size_t size)
{
    std::error_code ec;
    std::filesystem::remove_all(fuzzroot::root() + "/data", ec);
    std::filesystem::create_directories(fuzzroot::root() + "/data/configs");
    std::ofstream(platform::rootPath(systemPath), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes), std::streamsize(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = (setUp(), true);
    (void)ready;
    if (size == 0)
        return 0;
    switch (data[0] % 3) {
    case 0: {
        place(ConfigEngine::kConfigFile, data + 1, size - 1);
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine* c = ConfigEngine::pInstance();
        for (int id = 0; id < ConfigItem::ConfigNameCount; ++id)
            if (c->read_config_variant(ConfigItem::ConfigName(id)).toString().isEmpty())
                abort();
        break;
    }
    case 1: {
        place(kOmenuFile, data + 1, size - 1);
        OSD_LIST list;
        get_json_omenu_para(kOmenuFile, &list);
        break;
    }
    default: {
        place(kAliasFile, data + 1, size - 1);
        ALIAS_PARA alias;
        for (const char* section : {"source", "usermode", "win", "crop"})
            get_json_alias_para(&alias, section, 1);
        break;
    }
    }
    return 0;
}
