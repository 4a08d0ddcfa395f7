#include "core/omenu.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <sstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/file_store.h"
#include "core/global.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "platform/platform.h"

namespace pt = boost::property_tree;

OSD_LIST g_osd_list;

namespace {

constexpr const char* kWithoutOsd = "the OSD stays as it is";

// A member that the entry's type requires but the file lacks.
const pt::ptree& child(const pt::ptree& tree, const char* name)
{
    auto c = tree.get_child_optional(name);
    if (!c)
        throw std::runtime_error(std::string("missing member \"") + name + "\"");
    return *c;
}

template <typename T>
T value(const pt::ptree& tree, const char* name)
{
    auto v = tree.get_optional<T>(name);
    if (!v)
        throw std::runtime_error(std::string("member \"") + name + "\" missing or not a number");
    return *v;
}

void readPos(const pt::ptree& entry, OMENU_PARA& e, bool withLayer)
{
    const pt::ptree& pos = child(entry, "pos");
    e.x = value<int>(pos, "x");
    e.y = value<int>(pos, "y");
    e.w = value<int>(pos, "w");
    e.h = value<int>(pos, "h");
    e.layer = withLayer ? pos.get<std::string>("layer", "") : "";
}

void readAct(const pt::ptree& entry, OMENU_PARA& e)
{
    const pt::ptree& act = child(entry, "act");
    e.effect = value<int>(act, "effect");
    e.speed = value<int>(act, "speed");
    e.staytime = value<int>(act, "staytime");
}

void readText(const pt::ptree& entry, OMENU_PARA& e)
{
    readPos(entry, e, true);
    readAct(entry, e);
    const pt::ptree& back = child(entry, "backpara");
    e.back_enable = value<std::string>(back, "enable");
    e.back_color = value<std::string>(back, "color");
    const pt::ptree& font = child(entry, "fontpara");
    e.startx = value<int>(font, "startx");
    e.starty = value<int>(font, "starty");
    e.fontw = value<int>(font, "fontw");
    e.fonth = value<int>(font, "fonth");
    e.wordspace = value<int>(font, "wordspace");
    e.verticalspace = value<int>(font, "verticalspace");
    e.font_color = value<std::string>(font, "color");
    const pt::ptree& texts = child(entry, "texts");
    if (texts.empty())
        throw std::runtime_error("\"texts\" is empty");
    e.texts = texts.begin()->second.get_value<std::string>();
}

void readBitmap(const pt::ptree& entry, OMENU_PARA& e)
{
    readPos(entry, e, false);
    readAct(entry, e);
    const pt::ptree& bmp = child(entry, "bmppara");
    // "start" and "end" beside "bmppara", or inside it.
    const pt::ptree& range = entry.get_child_optional("start") ? entry : bmp;
    e.bmp_start = value<int>(range, "start");
    e.bmp_end = value<int>(range, "end");
}

void printEntry(int n, const OMENU_PARA& e)
{
    if (!ZEL_DEBUG_ENABLED())
        return;
    printf("osd%d start\n", n);
    printf("type:%d status:%s pos:%d,%d,%d,%d effect:%d speed:%d staytime:%d\n", e.type, e.status.c_str(), e.x, e.y,
           e.w, e.h, e.effect, e.speed, e.staytime);
    if (e.type == 0)
        printf("back:%s %s layer:%s font:%d,%d %dx%d space:%d,%d color:%s text:%s\n", e.back_enable.c_str(),
               e.back_color.c_str(), e.layer.c_str(), e.startx, e.starty, e.fontw, e.fonth, e.wordspace,
               e.verticalspace, e.font_color.c_str(), e.texts.c_str());
    else if (e.type == 1)
        printf("bitmap start:%d end:%d\n", e.bmp_start, e.bmp_end);
    printf("osd%d over\n", n);
}

// Fills `list` from the parsed file; throws on a missing or malformed member.
void fill(const pt::ptree& root, const char* file, OSD_LIST& list)
{
    OMENU_PARA& first = list.item[0];
    const std::string name = value<std::string>(root, "name");
    const int osdcount = value<int>(root, "osdcount");
    const int oactcount = value<int>(root, "oactcount");
    first.oactcount = oactcount;
    if (osdcount == 0)
        return;
    ZEL_DEBUG("omenu %s (%s): osdcount:%d oactcount:%d\n", file, name.c_str(), osdcount, oactcount);
    int n = 0;
    for (const auto& member : child(root, "menu")) {
        if (n == OSD_LIST::kEntries)
            break;
        const pt::ptree& entry = member.second;
        OMENU_PARA& e = list.item[n];
        e.type = value<int>(entry, "type");
        e.status = value<std::string>(entry, "status");
        if (e.type == 0)
            readText(entry, e);
        else if (e.type == 1)
            readBitmap(entry, e);
        printEntry(++n, e);
    }
    first.osdcount = osdcount;
}

}  // namespace

int get_json_omenu_para(const char* file, OSD_LIST* list)
{
    if (!file || !list)
        return 255;
    list->item[0].osdcount = 0;
    std::string text;
    if (filestore::read_text_file(file, text, kWithoutOsd) != filestore::Found::File)
        return 255;
    std::string document;
    if (!filestore::bounded_json_document(file, text, "an OSD menu", kWithoutOsd, document))
        return 255;
    std::istringstream in(document);
    // Filled on a copy: a file that turns out broken halfway leaves the list as it was.
    OSD_LIST next = *list;
    try {
        pt::ptree root;
        pt::read_json(in, root);
        fill(root, file, next);
    } catch (const std::exception& e) {
        ZEL_DEBUG("json error: %s", e.what());
        // Out of the way until PC software sends a new one (or the mode is saved again).
        filestore::set_aside(file, std::string("cannot be used as an OSD menu (") + e.what() + ")", kWithoutOsd);
        return 255;
    }
    *list = next;
    return 0;
}

int omenu_color(const std::string& text)
{
    uint32_t rgb = 0;
    try {
        std::string t = text;
        if (!t.empty() && t[0] == '#')
            t.erase(0, 1);
        rgb = uint32_t(std::stoul(t, nullptr, 16)) & 0xFFFFFF;
    } catch (const std::exception&) {
        rgb = 0;
    }
    return int(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

namespace {

int clampTo(int v, int hi) { return std::max(0, std::min(v, std::max(0, hi))); }

}  // namespace

void place_on_screen(OMENU_PARA& p, int ledW, int ledH)
{
    // A received file may hold any number: the OSD keeps inside the screen, with its text start
    // and spacing inside the OSD, so nothing the engine derives from them can run past an int.
    p.x = clampTo(p.x, ledW);
    p.w = clampTo(p.w, ledW - p.x);
    p.y = clampTo(p.y, ledH);
    p.h = clampTo(p.h, ledH - p.y);
    p.startx = clampTo(p.startx, p.w);
    p.starty = clampTo(p.starty, p.h);
    p.wordspace = clampTo(p.wordspace, p.w);
    p.verticalspace = clampTo(p.verticalspace, p.h);
}

void apply_omenu_entry(OMENU_PARA* p, OsdTarget& t, int ledW, int ledH)
{
    if (!p || p->osdcount == 0)
        return;
    place_on_screen(*p, ledW, ledH);
    t.loadChar();
    for (int base : {5, 9}) {
        t.osdSet(base, p->x);
        t.osdSet(base + 1, p->w);
        t.osdSet(base + 2, p->y);
        t.osdSet(base + 3, p->h);
    }
    t.osdSet(3, p->type == 0 ? 1 : 0);
    if (p->fontw == 32 && p->fonth == 32) {
        t.osdSet(1, 0);
        t.osdSet(2, 0);
        t.osdSet(14, 0);
    } else if (p->fontw == 64 && p->fonth == 64) {
        t.osdSet(1, 0);
        t.osdSet(2, 0);
        t.osdSet(14, 1);
    } else if (p->fontw == 128 && p->fonth == 128) {
        t.osdSet(1, 1);
        t.osdSet(2, 1);
        t.osdSet(14, 1);
    } else {
        t.osdSet(14, 0);
    }
    t.osdSet(21, p->startx);
    t.osdSet(22, p->starty);

    // The text: UTF-8 lines (empty ones kept), at most 64, each cut to the engine's line buffer.
    const QStringList lines = QString::fromStdString(p->texts).split(QLatin1Char('\n'));
    const int count = std::min(int(lines.size()), OsdTarget::kLines);
    std::vector<int> lengths(OsdTarget::kLines, 0);
    std::unique_ptr<wchar_t[][OsdTarget::kLineCodes]> text(new wchar_t[OsdTarget::kLines][OsdTarget::kLineCodes]());
    for (int i = 0; i < count; ++i) {
        const QVector<uint> codes = lines[i].toUcs4();
        const int n = std::min(int(codes.size()), OsdTarget::kLineCodes - 1);
        for (int k = 0; k < n; ++k)
            text[i][k] = wchar_t(codes[k]);
        text[i][n] = 0;
        lengths[i] = n;
    }
    t.osdSetUnicode(count, lengths.data(), text.get());

    t.osdSet(17, omenu_color(p->font_color));
    const int64_t speed = int64_t(p->speed) * 10;   // any number a file holds, without overflow
    t.osdSet(13, int(std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, speed))));
    if (p->back_enable != "off") {
        t.osdSet(16, omenu_color(p->back_color));
        t.osdSet(18, 0);
    } else {
        t.osdSet(18, 1);
    }
    static constexpr int kScrollOfEffect[] = {0, 3, 4, 1, 2};
    if (p->effect >= 0 && p->effect < int(sizeof kScrollOfEffect / sizeof kScrollOfEffect[0]))
        t.osdSet(4, kScrollOfEffect[p->effect]);
    t.osdSet(0, p->status == "on" ? 1 : 0);
    t.osdSet(33, p->layer == "buttom" ? 1 : 0);
    t.osdSet(34, p->wordspace);
    t.osdSet(35, p->verticalspace);
}

namespace {

class EngineOsd : public OsdTarget {
public:
    explicit EngineOsd(c331_manage& e) : e_(e) {}
    void loadChar() override { e_.load_char(); }
    int osdSet(int type, int v) override { return e_.zelApi_OsdSet(type, v); }
    int osdSetUnicode(int n, const int* lengths, const wchar_t text[][kLineCodes]) override
    {
        return e_.zelApi_OsdSetUnicode(n, lengths, text);
    }

private:
    c331_manage& e_;
};

}  // namespace

void set_OSD_para(OMENU_PARA* p)
{
    c331_manage* e = c331_manage::p_c331_manage;
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    if (!e || !m || !p)
        return;
    EngineOsd target(*e);
    apply_omenu_entry(p, target, ram_get_u16(m->ram_para, ramaddr::kLedWidth),
                      ram_get_u16(m->ram_para, ramaddr::kLedHeight));
}
