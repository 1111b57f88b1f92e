#include "gui/inventory_pane.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/inventory_windows.h"
#include "gui/item_overview.h"
#include "gui/item_settings_window.h"
#include "gui/message_box.h"
#include "gui/record_list_model.h"
#include "gui/store_controls.h"
#include "store/inventory_commands.h"
#include "store/item_names.h"

namespace torvane {

namespace {

const QString kAllCards = QStringLiteral(u"全部卡密");

}  // namespace

InventoryPane::InventoryPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("InventoryPane"));
  BuildControls();
  BuildMenus();
  FillItemSelector();
  connect(&context_, &GuiContext::storeWorkChanged, this, &InventoryPane::OnStoreWorkChanged);
}

void InventoryPane::BuildControls() {
  auto* caption = Named(new QLabel(QStringLiteral(u"查看卡密："), this), u"标签_查看卡密");
  itemSelector_ = Named(new QComboBox(this), u"组合框_宝贝选择");
  itemSelector_->setMinimumWidth(220);
  itemSelector_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  cardButton_ = Named(new QPushButton(QStringLiteral(u"卡密操作"), this), u"按钮_卡密操作");
  itemButton_ = Named(new QPushButton(QStringLiteral(u"宝贝操作"), this), u"按钮_宝贝操作");

  model_ = new RecordListModel(context_.stores, context_.stores ? &context_.stores->Inventory() : nullptr,
                               {QStringLiteral(u"宝贝名称"), QStringLiteral(u"宝贝卡号"), QStringLiteral(u"宝贝卡密"),
                                QStringLiteral(u"宝贝备注")},
                               this);
  list_ = MakeRecordTable(this, model_, {170, 150, 150});

  failure_ = MakeFailureLabel(this);
  overview_ = new ItemOverview(context_, this);

  tickAll_ = Named(new QCheckBox(QStringLiteral(u"全选/反选"), this), u"选择框_全选反选");
  auto* remaining = Named(new QLabel(QStringLiteral(u"剩余卡密："), this), u"标签_剩余卡密");
  count_ = Named(new QLabel(QStringLiteral("0"), this), u"标签_卡密数量");
  count_->setMinimumWidth(60);

  auto* top = new QHBoxLayout;
  top->addWidget(caption);
  top->addWidget(itemSelector_);
  top->addStretch();
  top->addWidget(cardButton_);
  top->addWidget(itemButton_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(tickAll_);
  bottom->addStretch();
  bottom->addWidget(remaining);
  bottom->addWidget(count_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(overview_);
  layout->addWidget(failure_);
  layout->addWidget(list_, 1);
  layout->addLayout(bottom);

  connect(itemSelector_, &QComboBox::currentIndexChanged, this, [this] { ShowSelectedItem(); });
  connect(tickAll_, &QCheckBox::clicked, this, [this](bool on) { model_->TickAll(on); });
  connect(model_, &RecordListModel::readFailed, this, &InventoryPane::ShowStoreFailure);
  connect(overview_, &ItemOverview::itemActivated, this, [this](const QString& item) {
    const int index = itemSelector_->findText(item);
    if (index > 0) itemSelector_->setCurrentIndex(index);
  });
}

void InventoryPane::BuildMenus() {
  cardMenu_ = Named(new QMenu(QStringLiteral(u"卡密操作"), this), u"菜单_卡密操作");
  cardMenu_->addAction(QStringLiteral(u"添加卡密(单个)"), this, [this] { OpenAddCardWindow(); });
  cardMenu_->addAction(QStringLiteral(u"添加卡密(批量)"), this, [this] { OpenBatchWindow(); });
  cardMenu_->addAction(QStringLiteral(u"修改打钩卡密"), this, [this] { OpenModifyWindow(); });
  cardMenu_->addAction(QStringLiteral(u"删除打钩卡密"), this, [this] { DeleteTickedCards(); });
  cardMenu_->addAction(QStringLiteral(u"卡号查询"), this, [this] { OpenCardNumberWindow(); });
  itemMenu_ = Named(new QMenu(QStringLiteral(u"宝贝操作"), this), u"菜单_宝贝操作");
  itemMenu_->addAction(QStringLiteral(u"添加宝贝"), this, [this] { OpenAddItemWindow(); });
  itemMenu_->addAction(QStringLiteral(u"修改宝贝"), this, [this] { OpenRenameItemWindow(); });
  itemMenu_->addAction(QStringLiteral(u"删除宝贝"), this, [this] { OpenDeleteItemWindow(); });
  itemMenu_->addAction(QStringLiteral(u"宝贝设置"), this, [this] { OpenItemSettingsWindow(); });
  connect(cardButton_, &QPushButton::clicked, this, [this] { cardMenu_->popup(QCursor::pos()); });
  connect(itemButton_, &QPushButton::clicked, this, [this] { itemMenu_->popup(QCursor::pos()); });
}

void InventoryPane::FillItemSelector() {
  std::string error;
  const std::vector<std::string> names = ReadItemNames(context_.dataDir, &error);
  const bool showedItem = itemSelector_->currentIndex() > 0;
  FillNameSelector(itemSelector_, names, kAllCards);
  if (!error.empty()) {
    failure_->setText(FromGbk("宝贝名称.txt 无法读取: " + error));
    failure_->setVisible(true);
  }
  // The selector says "全部卡密" now: so must the list.
  if (showedItem) FillInventoryList(1);
  ReloadItemOverview();
}

void InventoryPane::ReloadItemOverview() {
  if (context_.StoreWorkRunning()) {
    overviewDeferred_ = true;
    return;
  }
  overview_->Reload();
}

void InventoryPane::FillInventoryList(int mode, const std::string& text) {
  std::size_t position = 0;
  if (mode == 2) position = 2;
  else if (mode != 1) position = 1;
  // Every card, or a card number's cards of any item: the selector says "全部卡密".
  if (mode != 3 && itemSelector_->currentIndex() > 0) {
    const bool blocked = itemSelector_->blockSignals(true);
    itemSelector_->setCurrentIndex(0);
    itemSelector_->blockSignals(blocked);
  }
  const bool read = model_->Fill(position, text);
  tickAll_->setChecked(false);
  if (!read) {
    ShowStoreFailure(model_->Error());
    return;
  }
  failure_->setVisible(false);
  count_->setText(QString::number(model_->rowCount()));
  if (mode == 1) ReloadItemOverview();
}

void InventoryPane::RefreshStoreView() {
  const int index = itemSelector_->currentIndex();
  const std::string item = SelectedName(itemSelector_);
  QScrollBar* scroll = list_->verticalScrollBar();
  const int at = scroll->value();
  const bool read = index > 0 ? model_->Refresh(1, item) : model_->Refresh(0, {});
  if (!read) {
    ShowStoreFailure(model_->Error());
    return;
  }
  failure_->setVisible(false);
  count_->setText(QString::number(model_->rowCount()));
  scroll->setValue(at);
  ReloadItemOverview();
}

void InventoryPane::ShowSelectedItem() {
  if (itemSelector_->currentIndex() <= 0) {
    FillInventoryList(1);
  } else {
    FillInventoryList(3, SelectedName(itemSelector_));
  }
}

void InventoryPane::ShowStoreFailure(const QString& reason) {
  failure_->setText(QStringLiteral(u"卡密库读取失败: ") + reason);
  failure_->setVisible(true);
  count_->setText(QStringLiteral(u"读取失败"));
}

void InventoryPane::OnStoreWorkChanged(bool running) {
  for (QWidget* w : std::initializer_list<QWidget*>{itemSelector_, cardButton_, itemButton_, tickAll_}) {
    w->setEnabled(!running);
  }
  if (running) {
    model_->PauseReads();
  } else {
    model_->ResumeReads();
    if (overviewDeferred_) {
      overviewDeferred_ = false;
      overview_->Reload();
    }
  }
}

void InventoryPane::DeleteTickedCards() {
  if (!context_.stores) return;
  const std::vector<RecordNumber> rows = model_->TickedNumbers();
  if (rows.empty()) {
    ShowOutcome(this, DeleteCards(*context_.stores, rows, false));
    return;
  }
  const bool confirmed = MessageBox::Confirm(this, FromGbk(DeleteConfirmText(rows.size())));
  const CommandOutcome outcome = DeleteCards(*context_.stores, rows, confirmed);
  ShowOutcome(this, outcome);
  FillInventoryList(1);
}

template <typename Make>
QWidget* InventoryPane::OpenWindow(QPointer<QWidget>& slot, Make make) {
  if (!context_.stores) {
    MessageBox::Fail(this, QStringLiteral(u"卡密库未打开"));
    return nullptr;
  }
  if (!slot) slot = make();
  slot->show();
  slot->raise();
  slot->activateWindow();
  return slot;
}

QWidget* InventoryPane::OpenAddCardWindow() {
  return OpenWindow(addCard_, [this] { return new AddCardWindow(context_, *this); });
}

QWidget* InventoryPane::OpenBatchWindow() {
  return OpenWindow(batch_, [this] { return new BatchAddWindow(context_, *this); });
}

QWidget* InventoryPane::OpenModifyWindow() {
  return OpenWindow(modify_, [this] { return new ModifyCardsWindow(context_, *this); });
}

QWidget* InventoryPane::OpenCardNumberWindow() {
  return OpenWindow(cardNumber_, [this] { return new CardNumberWindow(context_, *this); });
}

QWidget* InventoryPane::OpenAddItemWindow() {
  return OpenWindow(addItem_, [this] { return new AddItemWindow(context_, *this); });
}

QWidget* InventoryPane::OpenRenameItemWindow() {
  return OpenWindow(renameItem_, [this] { return new RenameItemWindow(context_, *this); });
}

QWidget* InventoryPane::OpenDeleteItemWindow() {
  return OpenWindow(deleteItem_, [this] { return new DeleteItemWindow(context_, *this); });
}

QWidget* InventoryPane::OpenItemSettingsWindow() {
  std::string item = overview_->SelectedItem();
  if (item.empty()) item = SelectedName(itemSelector_);
  // The names of the list, then the overview's other items (those with settings or cards only).
  std::vector<std::string> names = ReadItemNames(context_.dataDir);
  for (const ItemStock& row : overview_->Items()) {
    if (std::find(names.begin(), names.end(), row.item) == names.end()) names.push_back(row.item);
  }
  return OpenWindow(itemSettings_,
                    [this, &names, &item] { return new ItemSettingsWindow(context_, *this, names, item); });
}

}  // namespace torvane
