// The OSD menu file ("/data/configs/omenu.json", delivered by PC software; a user mode keeps its
// own copy "/data/modes/MOnn.json"): read into a list of up to three OSD entries, and the first
// entry applied to the video engine's on-screen display.
#pragma once

#include <string>

// One OSD entry. osdcount and oactcount are filled in the first element of a list only.
struct OMENU_PARA {
    int osdcount = 0;
    int oactcount = 0;
    int type = 0;                 // 0 text, 1 bitmap
    std::string status;           // "on" shows the OSD
    int x = 0, y = 0, w = 0, h = 0;
    int effect = 0, speed = 0, staytime = 0;
    std::string back_enable;      // "off": no background
    std::string back_color;       // RRGGBB as hexadecimal text
    std::string layer;            // "buttom": plane control bit 15
    int startx = 0, starty = 0;
    int fontw = 0, fonth = 0;
    int wordspace = 0, verticalspace = 0;
    std::string font_color;       // RRGGBB as hexadecimal text
    std::string texts;            // lines separated by line feeds
    int bmp_start = 0, bmp_end = 0;
};

struct OSD_LIST {
    static constexpr int kEntries = 3;
    OMENU_PARA item[kEntries];
};

constexpr const char* kOmenuFile = "/data/configs/omenu.json";

// The list the video engine reloads and applies (its worker thread only).
extern OSD_LIST g_osd_list;

// Reads `file` (a system path) into `list`. The first element's osdcount is 0 unless the file
// opens, parses and holds every member its entries need; a file that does not is reported
// ("json error: %s") and deleted. Entries the file does not fill keep their contents.
// 0 when the file was read, 255 otherwise.
int get_json_omenu_para(const char* file, OSD_LIST* list);

// Where an OSD entry is applied: the video engine's OSD operations.
class OsdTarget {
public:
    static constexpr int kLines = 64;
    static constexpr int kLineCodes = 128;
    virtual ~OsdTarget() = default;
    virtual void loadChar() = 0;
    virtual int osdSet(int type, int value) = 0;
    virtual int osdSetUnicode(int lineCount, const int* lengths, const wchar_t text[][kLineCodes]) = 0;
};

// Keeps entry p's position and size on a ledW x ledH screen (x, y in 0..size, w and h up to the
// screen's edge) and its text start and spacing inside the OSD; the entry is changed in place.
void place_on_screen(OMENU_PARA& p, int ledW, int ledH);

// Applies entry `p` (the first of a list) to `target` with the LED screen size, placed on the
// screen in place first (place_on_screen). Does nothing while osdcount is 0.
void apply_omenu_entry(OMENU_PARA* p, OsdTarget& target, int ledW, int ledH);

// Applies `p` to the video engine with the LED screen size of the parameter image.
void set_OSD_para(OMENU_PARA* p);

// A colour text (RRGGBB, optionally "0x" or "#" in front) as the engine takes it: 0xBBGGRR.
int omenu_color(const std::string& text);
