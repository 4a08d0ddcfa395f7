// The look shared by the shell's pages: colours and style sheets of the front panel.
#pragma once

namespace style {

// Page background.
constexpr const char* kPage = "background-color: rgb(16, 16, 28);";
// Button rows that show one selected button.
constexpr const char* kSelected = "background-color:#4777FF;color:#FFFFFF";
constexpr const char* kUnselected = "background-color:#10101C;color:#FFFFFF";
// The selected and the other action button of a pair.
constexpr const char* kActionSelected =
    "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
constexpr const char* kActionOther = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";

// Shell panels and texts.
constexpr const char* kPanel = "background-color:#212435;border-radius:10px;";
constexpr const char* kTitle = "color:#FFFFFF;font:bold 26px;background:transparent;";
constexpr const char* kText = "color:#FFFFFF;font:20px;background:transparent;";
constexpr const char* kDimText = "color:#A8ACC0;font:18px;background:transparent;";
constexpr const char* kFlatButton =
    "QPushButton{background:transparent;border:none;}QPushButton:pressed{background-color:#4777FF;border-radius:8px;}";

// Keypad fields and drop-down lists of the setup pages.
constexpr const char* kField =
    "QLineEdit{background-color:#10101C;color:#FFFFFF;border:1px solid #3A3F5C;border-radius:6px;font:20px;"
    "padding:0 8px;}QLineEdit:disabled{color:#6A6E80;}";
constexpr const char* kCombo =
    "QComboBox{background-color:#10101C;color:#FFFFFF;border:1px solid #3A3F5C;border-radius:6px;font:18px;"
    "padding-left:10px;}QComboBox::drop-down{border:none;width:28px;}"
    "QComboBox QAbstractItemView{background-color:#212435;color:#FFFFFF;selection-background-color:#4777FF;"
    "outline:none;}QComboBox QAbstractItemView::item{height:35px;}";

// Colours of states.
constexpr const char* kGreen = "#00D65B";
constexpr const char* kBlue = "#4777FF";
constexpr const char* kGrey = "#6A6E80";
constexpr const char* kAmber = "#FFB020";

}  // namespace style
