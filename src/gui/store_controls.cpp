#include "gui/store_controls.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>

#include "gui/gbk.h"
#include "gui/message_box.h"
#include "store/inventory_commands.h"

namespace torvane {

std::optional<std::string> ExactText(QWidget* parent, const QString& text, std::string_view caption) {
  std::optional<std::string> gbk = ToGbkExact(text);
  if (!gbk) MessageBox::Inform(parent, FromGbk(std::string(caption) + "含有GBK无法保存的字符"));
  return gbk;
}

void FillNameSelector(QComboBox* selector, const std::vector<std::string>& names, const QString& first) {
  const bool blocked = selector->blockSignals(true);
  selector->clear();
  if (!first.isEmpty()) selector->addItem(first);
  for (const std::string& name : names) {
    selector->addItem(FromGbk(name), QByteArray(name.data(), static_cast<qsizetype>(name.size())));
  }
  selector->setCurrentIndex(first.isEmpty() ? -1 : 0);
  selector->blockSignals(blocked);
}

std::string SelectedName(const QComboBox* selector) {
  const QVariant data = selector->currentData();
  if (selector->currentIndex() < 0 || !data.isValid()) return {};
  const QByteArray bytes = data.toByteArray();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void ShowOutcome(QWidget* parent, const CommandOutcome& outcome) {
  if (outcome.message.empty()) return;
  if (outcome.failed) {
    MessageBox::Fail(parent, FromGbk(outcome.message));
  } else {
    MessageBox::Inform(parent, FromGbk(outcome.message));
  }
}

QTableView* MakeRecordTable(QWidget* parent, QAbstractItemModel* model, std::initializer_list<int> widths) {
  auto* list = Named(new QTableView(parent), u"超级列表框_仓库");
  list->setModel(model);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setAlternatingRowColors(true);
  list->setWordWrap(false);
  list->verticalHeader()->setVisible(false);
  list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
  list->horizontalHeader()->setStretchLastSection(true);
  list->horizontalHeader()->setHighlightSections(false);
  int column = 0;
  for (int width : widths) list->setColumnWidth(column++, width);
  return list;
}

QLabel* MakeFailureLabel(QWidget* parent) {
  auto* label = Named(new QLabel(parent), u"标签_读取失败");
  label->setWordWrap(true);
  label->setStyleSheet(QStringLiteral("color: #b00020; font-weight: bold;"));
  label->setVisible(false);
  return label;
}

}  // namespace torvane
