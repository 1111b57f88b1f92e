#include "gui/store_controls.h"

#include <QComboBox>

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

}  // namespace torvane
