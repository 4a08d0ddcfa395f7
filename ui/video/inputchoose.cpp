#include "ui/video/inputchoose.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"
#include "ui/video/edidset.h"
#include "ui/video/imagelayout.h"
#include "ui/video/inputcut.h"

InputChoose* g_inputchoose = nullptr;

namespace {

constexpr LangText kTitle = {"信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn", "信源切換"};
constexpr LangText kCutButton = {"输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"};
constexpr LangText kEdidButton = {"设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"};

// Where the pop-up buttons start, by language: the longer the texts, the further left.
constexpr int kMenuLeft[5] = {680, 620, 640, 640, 680};
constexpr int kMenuRight = 779;

struct SignalIcons {
    const char* off;
    const char* on;
};
constexpr SignalIcons kSignalIcons[video::kInputs] = {
    {":/png/HDMI.png", ":/png/extlv.png"},       {":/png/DVI.png", ":/png/dvilv.png"},
    {":/png/HDMI13.png", ":/png/HDMI13_lv.png"}, {":/png/HDMI13.png", ":/png/HDMI13_lv.png"},
    {":/png/HDMI20.png", ":/png/HDMI20_lv.png"}, {":/png/HDMI20.png", ":/png/HDMI20_lv.png"},
};

constexpr const char* kCardUsed = "#source_frame{border:1px solid #00D65B;border-radius:5px;}";
constexpr const char* kCardOther = "#source_frame{border:1px solid #CCCCCC;border-radius:5px;}";
constexpr const char* kMenuStyle = "background-color: rgb(95, 100, 129); color: rgb(255, 255, 255);";
constexpr const char* kTransparent = "background:transparent;border:none;";

constexpr int kTileNameWidth = 66;
constexpr int kMarkerPadding = 4;
constexpr unsigned kCropIdBits = 0x7F;

QLabel* iconLabel(QWidget* parent, const QString& name, int x, int y, int w, int h)
{
    QLabel* l = shell::makeLabel(parent, name, x, y, w, h, kTransparent, Qt::AlignCenter);
    l->setScaledContents(true);
    return l;
}

int tilePlace(int input)
{
    for (int n = 0; n < video::kInputs; ++n)
        if (video::kTabInputs[n] == input)
            return n;
    return -1;
}

}  // namespace

InputChoose::InputChoose(QWidget* parent)
    : PageBase("InputChoose", kFocus, g_imagelayout ? ImageLayout::kFocus : shell::kHomeFocus, parent)
{
    keepPointer(g_inputchoose);

    // Input tiles.
    for (int n = 0; n < video::kInputs; ++n) {
        const int input = video::kTabInputs[n];
        const QString key = video::inputName(input);
        QFrame* tile = shell::makePanel(this, "tile_" + key, 20 + 130 * n, 173, 120, 78);
        tileIcon_[input] = iconLabel(tile, "label_" + key, 10, 6, 100, 32);
        tileName_[input] = shell::makeLabel(tile, "label_" + key + "_text", 4, 44, kTileNameWidth, 30,
                                            "color:#FFFFFF;font:16px;background:transparent;",
                                            Qt::AlignRight | Qt::AlignVCenter);
        tileCount_[input] = shell::makeLabel(tile, "label_" + key + "_num", 72, 44, 46, 30,
                                             "color:rgb(71, 119, 255);font:bold 16px;background:transparent;",
                                             Qt::AlignLeft | Qt::AlignVCenter);
        QPushButton* b = shell::makeFlatButton(this, "Button_" + key, 20 + 130 * n, 173, 120, 85);
        static constexpr void (InputChoose::*kSlots[video::kInputs])() = {
            &InputChoose::on_Button_EXT_clicked,   &InputChoose::on_Button_DVI_clicked,
            &InputChoose::on_Button_HDMI1_clicked, &InputChoose::on_Button_HDMI2_clicked,
            &InputChoose::on_Button_HDMI3_clicked, &InputChoose::on_Button_HDMI4_clicked,
        };
        connect(b, &QPushButton::clicked, this, kSlots[input]);
    }
    tileFrame_ = new QFrame(this);
    tileFrame_->setObjectName("frame1");
    tileFrame_->setAttribute(Qt::WA_TransparentForMouseEvents);

    // The pop-up menu of the source band.
    menuCut_ = new QPushButton(this);
    menuCut_->setObjectName("Button_inputcut");
    menuEdid_ = new QPushButton(this);
    menuEdid_->setObjectName("Button_EDID");
    for (QPushButton* b : {menuCut_, menuEdid_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(kMenuStyle);
        QFont f = b->font();
        f.setPointSize(12);
        b->setFont(f);
        b->hide();
    }
    connect(menuCut_, &QPushButton::clicked, this, &InputChoose::zel_button_inputcut_clicked);
    connect(menuEdid_, &QPushButton::clicked, this, &InputChoose::zel_button_EDID_clicked);

    if (ZelRamPara::p_zelrampara_config)
        ZelRamPara::p_zelrampara_config->ZelCropSourceInit();
    crop_source_num_update();
    initMenu();
    image_select();
    language_changed();
    remember_signals();
}

InputChoose::~InputChoose() = default;

// ---- window strip ---------------------------------------------------------------------------------

void InputChoose::initMenu()
{
    shell::retire(strip_);
    for (QLabel*& l : windowLabel_)
        l = nullptr;
    strip_ = new QFrame(this);
    strip_->setObjectName("frame_strip");
    strip_->setGeometry(0, 64, 800, 96);
    highlight_ = new QFrame(strip_);
    highlight_->setObjectName("frame_highlight");
    highlight_->setStyleSheet(video::kWindowHighlight);
    int placed = 0;
    for (int w = 0; w < video::kWindows; ++w) {
        if (w != 0 && video::image()[ramaddr::window(w) + ramaddr::kWinState] != 1)
            continue;
        windowLabel_[w] = video::makeWindowCard(strip_, w, 20 + 130 * placed);
        TextCreate(w, 0);
        QPushButton* b = shell::makeFlatButton(strip_, QString::number(w), 17 + 130 * placed, 0, 126, 96);
        connect(b, &QPushButton::clicked, this, &InputChoose::zel_image_button_clicked);
        if (w == window_)
            highlight_->setGeometry(b->geometry());
        ++placed;
    }
    highlight_->raise();
    strip_->show();
}

void InputChoose::TextCreate(int window, int)
{
    if (windowLabel_[window])
        windowLabel_[window]->setText(video::inputName(video::windowSource(window).input));
}

void InputChoose::input_source_changed(int window)
{
    if (window < 0 || window >= video::kWindows || !windowLabel_[window])
        return;
    const video::WindowSource s = video::windowSource(window);
    QString text = video::inputName(s.input);
    if (s.crop && video::cropOrdinalOfEntry(s.cropIndex) > 0) {
        // The crop's own id: the same numbering as the crop's card.
        const unsigned idBits = video::image()[ramaddr::cropEntry(static_cast<unsigned>(s.cropIndex)) + 1] & kCropIdBits;
        text += QStringLiteral("_Crop%1").arg(idBits + 1);
    }
    windowLabel_[window]->setText(text);
}

void InputChoose::zel_image_button_clicked()
{
    const int w = senderIndex(video::kWindows);
    if (w < 0)
        return;
    window_ = static_cast<uint8_t>(w);
    image_select();
    highlight_->setGeometry(static_cast<QWidget*>(sender())->x(), 0, 126, 96);
}

// ---- input tiles ----------------------------------------------------------------------------------

void InputChoose::select_input(int input)
{
    page_ = 0;
    input_ = static_cast<uint8_t>(input);
    inputName_ = video::inputName(input);
    initSource();
    const int n = tilePlace(input);
    tileFrame_->setGeometry(20 + 130 * n, 173, 120, 85);
    tileFrame_->setStyleSheet(video::kTabOutline);
    tileFrame_->raise();
}

void InputChoose::image_select()
{
    const video::WindowSource s = video::windowSource(window_);
    if (s.input < 0 || s.input >= video::kInputs)
        return;
    select_input(s.input);
}

void InputChoose::source_check_update()
{
    for (int i = 0; i < video::kInputs; ++i) {
        const bool on = video::inputSignal(i).present();
        tileIcon_[i]->setPixmap(QPixmap(QString::fromLatin1(on ? kSignalIcons[i].on : kSignalIcons[i].off)));
    }
}

void InputChoose::source_name_update()
{
    for (int i = 0; i < video::kInputs; ++i)
        tileName_[i]->setText(video::aliasOr("source", i, video::inputName(i), tileName_[i], kTileNameWidth));
}

void InputChoose::crop_source_num_update()
{
    for (int i = 0; i < video::kInputs; ++i)
        tileCount_[i]->setText(QStringLiteral("(%1)").arg(video::sourceCount(i)));
    source_name_update();
    source_check_update();
}

void InputChoose::remember_signals()
{
    for (int i = 0; i < video::kInputs; ++i)
        shownSignal_[i] = video::inputSignal(i);
}

// ---- source cards ---------------------------------------------------------------------------------

void InputChoose::initSource()
{
    const int total = video::sourceCount(input_);
    lastPage_ = static_cast<uint8_t>(video::lastCardPage(total, kCardsPerPage));
    if (page_ > lastPage_)
        page_ = lastPage_;
    const int onPage = std::min(kCardsPerPage, total - kCardsPerPage * page_);

    // The ordinal in use: 1 for the plain input, else the crop's place among its input's crop ids
    // plus 1, counted as the cards count them.
    const video::WindowSource s = video::windowSource(window_);
    const int used = s.crop ? video::cropOrdinalOfEntry(s.cropIndex) + 1 : 1;
    const bool usedInput = s.input == input_ && (!s.crop || used > 1);

    shell::retire(container_);
    container_ = new QFrame(this);
    container_->setObjectName("frame");
    container_->setGeometry(20, 257, 770, 215);
    container_->setStyleSheet("#frame{border:1px solid rgb(71, 119, 255);}");
    for (int j = 0; j < onPage; ++j)
        build_card(container_, j, kCardsPerPage * page_ + j, used, usedInput);

    QPushButton* menu = shell::makeFlatButton(container_, "Button_menu", 715, 10, 50, 50);
    menu->setIcon(QIcon(":/png/menu.png"));
    menu->setIconSize(QSize(50, 50));
    connect(menu, &QPushButton::clicked, this, &InputChoose::zel_Button_menu_clicked);
    if (page_ > 0) {
        QPushButton* prev = shell::makeFlatButton(container_, "Button_previous", 715, 95, 50, 50);
        prev->setIcon(QIcon(":/png/previous.png"));
        prev->setIconSize(QSize(40, 40));
        connect(prev, &QPushButton::clicked, this, &InputChoose::zel_Button_previous_clicked);
    }
    if (page_ < lastPage_) {
        QPushButton* next = shell::makeFlatButton(container_, "Button_next", 715, 155, 50, 50);
        next->setIcon(QIcon(":/png/next.png"));
        next->setIconSize(QSize(40, 40));
        connect(next, &QPushButton::clicked, this, &InputChoose::zel_Button_next_clicked);
    }
    container_->lower();
    container_->show();
    menuCut_->hide();
    menuEdid_->hide();
}

void InputChoose::build_card(QFrame* container, int j, int n, int usedOrdinal, bool usedInput)
{
    auto* card = new QFrame(container);
    card->setObjectName("source_frame");
    card->setGeometry(10 + 235 * (j % 3), 15 + 100 * (j / 3), 220, 90);
    QLabel* state = iconLabel(card, "label_state", 10, 10, 14, 14);
    QLabel* icon = iconLabel(card, "label_icon", 29, 5, 63, 24);
    icon->setPixmap(QPixmap(input_ == 1 ? ":/png/DVI.png" : ":/png/HDMI.png"));
    QLabel* name = shell::makeLabel(card, "label_name", 10, 29, 172, 24, "color: rgb(255, 255, 255)");
    QFont f = name->font();
    f.setPixelSize(20);
    name->setFont(f);
    QLabel* detail = shell::makeLabel(card, "label_detail", 10, 57, 172, 24, "color: rgb(255, 255, 255);font: 20px");
    video::describeSource(input_, inputName_, n, name, detail);

    const bool inUse = usedInput && n == usedOrdinal - 1;
    card->setStyleSheet(inUse ? kCardUsed : kCardOther);
    state->setPixmap(QPixmap(inUse ? ":/png/state_on.png" : ":/png/state_off.png"));
    if (inUse) {
        QLabel* marker = shell::makeLabel(card, "label_using", 164, 0, 56, 30, video::kInUseBadge, Qt::AlignCenter);
        marker->setText(langText(video::kTextInUse));
        shell::fitToText(marker, kMarkerPadding, true);   // the longer texts of some languages grow leftwards
    }

    QPushButton* b = shell::makeFlatButton(card, QString::number(j), 1, 1, 218, 88);
    connect(b, &QPushButton::clicked, this, &InputChoose::zel_source_button_clicked);
}

void InputChoose::zel_source_button_clicked()
{
    const int j = senderIndex(kCardsPerPage);
    if (j < 0)
        return;
    const int n = j + kCardsPerPage * page_;
    if (ZelRamPara* m = ZelRamPara::p_zelrampara_config)
        m->ZelSetImageSource(n, static_cast<char>(input_), static_cast<char>(window_));
    initSource();
    input_source_changed(window_);
}

void InputChoose::zel_Button_menu_clicked()
{
    const bool show = menuCut_->isHidden();
    menuCut_->setVisible(show);
    menuEdid_->setVisible(show);
    if (show) {
        menuCut_->raise();
        menuEdid_->raise();
    }
}

void InputChoose::zel_Button_previous_clicked()
{
    if (page_ > 0)
        --page_;
    initSource();
}

void InputChoose::zel_Button_next_clicked()
{
    if (page_ < lastPage_)
        ++page_;
    initSource();
}

void InputChoose::zel_button_inputcut_clicked() { shell::openPage(g_inputcut, InputCut::kFocus); }
void InputChoose::zel_button_EDID_clicked() { shell::openPage(g_edidset, EDIDset::kFocus); }

// ---- refresh --------------------------------------------------------------------------------------

void InputChoose::syncUpdate(int code)
{
    // The base ran the language check (and language_changed) before this refresh.
    bool stateChanged = false;
    for (int w = 0; w < video::kWindows; ++w) {
        if (video::differs(ramaddr::window(w) + ramaddr::kWinSource, 2))
            input_source_changed(w);
        if (video::differs(ramaddr::window(w) + ramaddr::kWinState, 2))
            stateChanged = true;
    }
    // Signals are compared with what the page shows: the status area is not part of the saved image.
    bool signalChanged = false;
    bool currentSignalChanged = false;
    for (int i = 0; i < video::kInputs; ++i) {
        const video::Signal now = video::inputSignal(i);
        const video::Signal& was = shownSignal_[i];
        const bool changed = now.width != was.width || now.height != was.height || now.rate != was.rate;
        signalChanged |= changed;
        currentSignalChanged |= changed && i == input_;
    }
    remember_signals();

    enum class Action { None, Select, Rebuild };
    const Action action = video::differs(ramaddr::window(window_) + ramaddr::kWinSource, 2) ? Action::Select
                          : currentSignalChanged                                        ? Action::Rebuild
                                                                                        : Action::None;
    auto run = [this](Action a) {
        if (a == Action::Select)
            image_select();
        else if (a == Action::Rebuild)
            initSource();
    };
    if (stateChanged) {
        if (video::image()[ramaddr::window(window_) + ramaddr::kWinState] != 0) {
            initMenu();
            run(action);
        } else {
            window_ = 0;   // the current window went off: back to window 1
            image_select();
            initMenu();
        }
    } else {
        run(action);
    }

    constexpr int kAliasFileReceived = 103;
    if (code == kAliasFileReceived ||
        video::differs(ramaddr::kCropTable, ramaddr::kCropEntries * ramaddr::kCropEntrySize)) {
        if (ZelRamPara* m = ZelRamPara::p_zelrampara_config)
            m->ZelCropSourceInit();
        initSource();
        crop_source_num_update();
        return;
    }
    if (signalChanged)
        source_check_update();
}

void InputChoose::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    menuCut_->setText(langText(kCutButton));
    menuEdid_->setText(langText(kEdidButton));
    const int left = kMenuLeft[shownLanguage()];
    menuCut_->setGeometry(left, 310, kMenuRight - left + 1, 60);
    menuEdid_->setGeometry(left, 370, kMenuRight - left + 1, 60);
    if (container_) {
        const bool menuShown = menuCut_->isVisible();
        initSource();
        menuCut_->setVisible(menuShown);
        menuEdid_->setVisible(menuShown);
    }
}

void InputChoose::returnBeneath()
{
    if (beneathFocus() == ImageLayout::kFocus && g_imagelayout) {
        g_imagelayout->language_changed();
        g_imagelayout->image_para_update();
        g_imagelayout->image_init();
        return;
    }
    PageBase::returnBeneath();
}
