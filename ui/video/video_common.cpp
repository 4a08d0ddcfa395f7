#include "ui/video/video_common.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QListView>
#include <QSignalBlocker>

#include <cstring>

#include "core/alias.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"

namespace video {

namespace {

constexpr const char* kInputNames[kInputs] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
constexpr int kCropIds = 40;
constexpr unsigned kCropIdMask = 0x7F;

unsigned char* blank()
{
    static unsigned char zeros[ramaddr::kRamSize] = {};
    return zeros;
}

}  // namespace

QString inputName(int input)
{
    return input >= 0 && input < kInputs ? QString::fromLatin1(kInputNames[input]) : QString();
}

unsigned char* image()
{
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    return m ? m->ram_para : blank();
}

const unsigned char* shadow()
{
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    return m ? m->ram_para_shadow : blank();
}

uint16_t word(unsigned addr) { return ram_get_u16(image(), addr); }

bool differs(unsigned addr, unsigned len) { return std::memcmp(image() + addr, shadow() + addr, len) != 0; }

void commitWords(std::initializer_list<FieldWrite> writes)
{
    ParaCommit commit;
    for (const FieldWrite& w : writes)
        ram_set_u16(image(), w.addr, w.value);
    commit.set(1);
}

void commitLowBytes(std::initializer_list<FieldWrite> writes)
{
    ParaCommit commit;
    for (const FieldWrite& w : writes)
        image()[w.addr] = static_cast<unsigned char>(w.value & 0xFF);
    commit.set(1);
}

WindowSource windowSource(int window)
{
    WindowSource s;
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    if (!m || window < 0 || window >= kWindows)
        return s;
    short crop = 0;
    char index = 0;
    s.input = m->ZelGetImageSource(m->ram_para, static_cast<unsigned char>(window), &crop, &index, 0);
    s.crop = crop != 0;
    s.cropIndex = s.crop ? static_cast<unsigned char>(index) : 0;
    return s;
}

int cropOrdinalOfEntry(int entry)
{
    if (entry < 0 || entry >= static_cast<int>(ramaddr::kCropEntries))
        return 0;
    const unsigned char* e = image() + ramaddr::cropEntry(static_cast<unsigned>(entry));
    if (!(e[1] & ramaddr::kCropValid) || e[0] >= kInputs)
        return 0;
    const int input = e[0];
    const int id = static_cast<int>(e[1] & kCropIdMask) + 1;
    // The cards count the ids in use of g_cut_source_state, so this counts the same bits.
    int ordinal = 0;
    for (int k = 1; k <= id && k <= kCropIds; ++k) {
        const unsigned bit = static_cast<unsigned>(input * kCropIds + k - 1);
        if ((g_cut_source_state[bit / 8] >> (bit % 8)) & 1u)
            ++ordinal;
    }
    return ordinal;
}

QString aliasOr(const char* section, int id, const QString& fallback, const QLabel* label, int width)
{
    ALIAS_PARA alias;
    if (!get_json_alias_para(&alias, section, id))
        return fallback;
    const QString name = QString::fromStdString(alias.name);
    if (!label)
        return name;
    return QFontMetrics(label->font()).elidedText(name, Qt::ElideRight, width, Qt::TextShowMnemonic);
}

Signal inputSignal(int input)
{
    Signal s;
    if (input < 0 || input >= kInputs)
        return s;
    const unsigned base = ramaddr::kInputSummary + 6u * static_cast<unsigned>(input);
    unsigned char record[6] = {};
    // The input-source manager rewrites the summary from its poll thread under this mutex.
    if (ZelRamPara* m = ZelRamPara::p_zelrampara_config) {
        pthread_mutex_lock(&m->mutex);
        std::memcpy(record, m->ram_para + base, sizeof record);
        pthread_mutex_unlock(&m->mutex);
    }
    s.width = ram_get_u16(record, 0);
    s.height = ram_get_u16(record, 2);
    // The rate is one byte; the byte after it is the receiver's no-signal flag.
    s.rate = record[5] ? 0 : record[4];
    return s;
}

void setComboEntries(QComboBox* combo, const QStringList& entries, int selected)
{
    const QSignalBlocker block(combo);
    combo->clear();
    combo->setView(new QListView(combo));
    combo->addItems(entries);
    combo->setCurrentIndex(selected >= 0 && selected < entries.size() ? selected : 0);
}

void selectComboQuietly(QComboBox* combo, int index)
{
    const QSignalBlocker block(combo);
    combo->setCurrentIndex(index);
}

}  // namespace video
