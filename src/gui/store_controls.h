// Helpers the store panes and their small windows share: named controls, texts taken from the
// controls without loss, item selectors, and a command's message shown to the seller.
#pragma once

#include <QString>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAbstractItemModel;
class QComboBox;
class QLabel;
class QTableView;
class QWidget;

namespace torvane {

struct CommandOutcome;

template <typename W>
W* Named(W* widget, const char16_t* name) {
  widget->setObjectName(QString::fromUtf16(name));
  return widget;
}

// The text as GBK; nullopt after telling the seller that caption holds a character GBK cannot store
// (caption + "含有GBK无法保存的字符", the store commands' own wording).
std::optional<std::string> ExactText(QWidget* parent, const QString& text, std::string_view caption);

// Replaces the selector's items by the names, each keeping its GBK bytes; with first (e.g. "全部卡密")
// before them and selected, else with nothing selected.
void FillNameSelector(QComboBox* selector, const std::vector<std::string>& names, const QString& first = {});
// The GBK bytes of the selected name; "" when nothing is selected (or the first, added item is).
std::string SelectedName(const QComboBox* selector);

// A store's list "超级列表框_仓库" over the model: whole rows, one at a time, fixed row heights (a million
// rows are never measured one by one), the given widths for the first columns, the last one stretched.
QTableView* MakeRecordTable(QWidget* parent, QAbstractItemModel* model, std::initializer_list<int> widths);
// The hidden label "标签_读取失败" that says above a list why its store cannot be read.
QLabel* MakeFailureLabel(QWidget* parent);

// The command's message in a box: a failure with the error icon, anything else as "提示"; nothing
// when the message is empty.
void ShowOutcome(QWidget* parent, const CommandOutcome& outcome);

}  // namespace torvane
