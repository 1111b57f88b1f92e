#include "gui/item_settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/inventory_pane.h"
#include "gui/message_box.h"
#include "gui/store_controls.h"
#include "store/item_names.h"
#include "store/item_settings.h"

namespace torvane {

ItemSettingsWindow::ItemSettingsWindow(GuiContext& context, InventoryPane& pane, const std::vector<std::string>& names,
                                       const std::string& item)
    : InventoryWindow(context, pane, QStringLiteral(u"宝贝设置")) {
  setObjectName(QStringLiteral(u"窗口_宝贝设置"));
  item_ = Named(new QComboBox(this), u"组合框_宝贝选择");
  item_->setMinimumWidth(200);
  FillNameSelector(item_, names);
  for (int i = 0; i < item_->count(); ++i) {
    if (!item.empty() && names[static_cast<std::size_t>(i)] == item) {
      item_->setCurrentIndex(i);
      break;
    }
  }
  reusable_ = Named(new QCheckBox(QStringLiteral(u"循环发货（同一卡密发给每个订单，不出库）"), this), u"选择框_循环发货");
  lowStock_ = Named(new QLineEdit(this), u"编辑框_库存预警");
  lowStock_->setPlaceholderText(QStringLiteral(u"留空不提醒"));
  lowStock_->setMaxLength(9);
  auto* save = Named(new QPushButton(QStringLiteral(u"保存"), this), u"按钮_保存");
  auto* close = Named(new QPushButton(QStringLiteral(u"关闭"), this), u"按钮_关闭");

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral(u"宝贝名称："), this), 0, 0);
  grid->addWidget(item_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral(u"库存预警："), this), 1, 0);
  grid->addWidget(lowStock_, 1, 1);
  grid->addWidget(reusable_, 2, 1);
  auto* hint = new QLabel(QStringLiteral(u"发货后库存降到此数或以下时提醒一次（按缺货通知的方式）"), this);
  hint->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(hint);
  layout->addLayout(buttons);
  resize(420, 170);
  connect(item_, &QComboBox::currentIndexChanged, this, [this] { ShowSelected(); });
  connect(save, &QPushButton::clicked, this, &ItemSettingsWindow::Save);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  ShowSelected();
}

void ItemSettingsWindow::ShowSelected() {
  const std::string item = SelectedName(item_);
  const ItemSetting setting = item.empty() ? ItemSetting{} : ReadItemSetting(context_.dataDir, item);
  reusable_->setChecked(setting.reusable);
  lowStock_->setText(setting.lowStock ? QString::number(*setting.lowStock) : QString());
}

void ItemSettingsWindow::Save() {
  const std::string item = SelectedName(item_);
  if (item.empty()) {
    MessageBox::Inform(this, QStringLiteral(u"未选择任何宝贝,请返回重新选择"));
    return;
  }
  ItemSetting setting;
  setting.reusable = reusable_->isChecked();
  const QString threshold = lowStock_->text().trimmed();
  if (!threshold.isEmpty()) {
    setting.lowStock = ParseLowStock(ToGbk(threshold));
    if (!setting.lowStock) {
      MessageBox::Inform(this, QStringLiteral(u"库存预警请填写0或正整数（最多9位），留空不提醒"));
      return;
    }
  }
  ItemSettings file;
  std::string error;
  // The file as it is now: other items' settings, comments and keys stay as they are.
  if (!file.Load(context_.dataDir, &error) || !file.Set(item, setting, &error) || !file.Save(context_.dataDir, &error)) {
    MessageBox::Fail(this, FromGbk("设置失败: " + error));
    return;
  }
  MessageBox::Inform(this, QStringLiteral(u"设置成功"));
  pane_.ReloadItemOverview();
  close();
}

}  // namespace torvane
