// What the video setup pages share: the parameter image and its shadow, the commit of field
// writes, input names, window sources and the alias-or-default names.
#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>

#include "ui/shell/shell_text.h"

class QComboBox;
class QFont;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace video {

constexpr int kInputs = 6;
constexpr int kWindows = 6;

// Texts that several video pages show (Cancel, OK, width, height and no signal come from the shell).
inline constexpr LangText kTextDelete = {"删除", "Delete", "Удалить", "Xoá bỏ", "删除"};
inline constexpr LangText kTextNamePrefix = {"名称:", "Name:", "Название:", "Tên:", "名稱:"};
inline constexpr LangText kTextOn = {"开启", "ON", "Вкл", "Mở", "開啟"};
inline constexpr LangText kTextOff = {"关闭", "OFF", "Откл", "Đóng", "關閉"};
// The Chinese texts end in a soft hyphen, as the front panel has always shown them.
inline constexpr LangText kTextInUse = {"使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD"};
// The green badge that shows kTextInUse.
inline constexpr const char* kInUseBadge =
    "background-color: #00D65B;color: rgb(255, 255, 255);font: 18px;border-radius:5px;";

// Plain input names by input number; empty outside 0-5.
QString inputName(int input);

// A field's text as the signed 16-bit value stored: no number, or one outside 16 bits, gives 0.
int16_t toShort(const QString& text);

// The parameter image and its shadow (all zero while the model does not exist).
unsigned char* image();
const unsigned char* shadow();
uint16_t word(unsigned addr);
// True when image and shadow differ in [addr, addr + len).
bool differs(unsigned addr, unsigned len);

struct FieldWrite {
    unsigned addr;
    uint16_t value;
};
// Writes 16-bit fields at the video engine's commit point and sets its change flag.
void commitWords(std::initializer_list<FieldWrite> writes);
// Writes low bytes (the high byte stays) at the commit point and sets the change flag.
void commitLowBytes(std::initializer_list<FieldWrite> writes);

// The window's source: the input number (for a crop the crop's input), whether it is a crop and
// the crop table index.
struct WindowSource {
    int input = 0;
    bool crop = false;
    int cropIndex = 0;
};
WindowSource windowSource(int window);

// Number of sources of an input: the input itself and each of its crops.
int sourceCount(int input);
// The last page of `total` cards shown `perPage` to a page (counted from 0).
int lastCardPage(int total, int perPage);

// The crop ordinal (from 1) of the crop at table index `entry`: how many of its input's crop ids
// in use are not above its own id. 0 when the entry is not a crop in use.
int cropOrdinalOfEntry(int entry);

// The alias of `section`/`id` elided at the right to `width` pixels with the label's font, or
// `fallback` when there is no usable alias.
QString aliasOr(const char* section, int id, const QString& fallback, const QLabel* label, int width);

// The input signal summary of input i: width, height and refresh (all 0 without a signal).
struct Signal {
    unsigned width = 0, height = 0, rate = 0;
    bool present() const { return width && height && rate; }
};
Signal inputSignal(int input);
// The input's signal as its first source card shows it: "%dx%d@%dHz", or the no-signal text.
QString signalText(int input);

// The strip card of a window (window number on the window's colour, the green dot) at x in a
// strip; returns the label inside it that names the window's source.
QLabel* makeWindowCard(QWidget* strip, int window, int x);
// The orange outline around the chosen window's card.
inline constexpr const char* kWindowHighlight = "border:2px solid rgb(255,171,84);";

// A combo box refilled or repositioned without reporting a change of selection.
void setComboEntries(QComboBox* combo, const QStringList& entries, int selected);
void selectComboQuietly(QComboBox* combo, int index);

// ---- the input tabs and source cards of the crop and EDID pages -------------------------------

// Tab k (left to right) shows input kTabInputs[k].
constexpr int kTabInputs[kInputs] = {2, 3, 4, 5, 1, 0};
// The blue outline, open at the bottom, around the chosen input tab.
inline constexpr const char* kTabOutline =
    "border:1px solid;border-left-color:rgb(71, 119, 255); border-right-color:rgb(71, 119, 255); "
    "border-top-color:rgb(71, 119, 255);";

struct InputTabs {
    QPushButton* button[kInputs];   // by tab, objectName "0" to "5"
    QLabel* count[kInputs];         // by tab, "HDMI1_num" ...; null without counts
    QFrame* highlight;
};
// The row of six tabs at y 68 with connector images and names, optionally with counts; the
// highlight outlines tab 0.
InputTabs makeInputTabs(QWidget* page, bool withCounts);
void moveTabHighlight(InputTabs& tabs, int tab);

// The bordered container of the source cards at (20, 152), 770 x 240.
QFrame* makeSourceContainer(QWidget* page);
struct SourceCard {
    QLabel* name;
    QLabel* detail;
    QPushButton* button;   // objectName: the card's place on the page
};
// Card `place` (0-5) of a container: frame, dot, connector image, name and detail lines.
SourceCard makeSourceCard(QFrame* container, int place, int input, const QFont& font);
// Writes the name and detail lines of source `ordinal` of `input` (named `inputName`): for 0 the
// input and its signal, for a crop its alias (elided to the name line) or "<input>_crop<id>" and
// its size; a crop no entry holds shows the input's name alone.
void describeSource(int input, const QString& inputName, int ordinal, QLabel* name, QLabel* detail);
// The edit panel of the crop and EDID pages: the frame "frame_add" at (21, 260), 768 x 130, and
// the Cancel, OK (or Save) and Delete buttons below it; all hidden until opened.
struct EditPanel {
    QFrame* frame;
    QPushButton* cancel;
    QPushButton* ok;
    QPushButton* remove;
    // Shows the panel above the cards; without Delete, Cancel and OK stand in the middle.
    void open(bool withDelete) const;
    void close() const;
};
EditPanel makeEditPanel(QWidget* page, const QString& okName, const QFont& buttonFont);
// An icon button of the container's right-hand column.
QPushButton* makeColumnButton(QFrame* container, const QString& name, const char* icon, int y);

}  // namespace video
