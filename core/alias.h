// User-given names of the inputs, user modes, windows and crops ("/data/configs/alias.json",
// delivered by PC software through the file transfer).
#pragma once

#include <string>

struct ALIAS_PARA {
    int id = 0;
    std::string valid;   // "off" disables the alias; any other text enables it
    std::string name;    // UTF-8
};

constexpr const char* kAliasFile = "/data/configs/alias.json";

// Looks up entry `id` of section `section` ("source", "usermode", "win", "crop"). 1 when the entry
// exists, is not switched off and has a name; 0 otherwise. A found entry is stored in `out`
// whatever the result. The file is read on every call; a file that does not parse is deleted.
int get_json_alias_para(ALIAS_PARA* out, std::string section, int id);
