// The "卡密库存" pane: the inventory of card codes, its item selector, the items' overview (stock,
// low-stock marks, item_overview.h), the list and pop-up menus. The menu items open the small windows
// of inventory_windows.h and item_settings_window.h; every change goes through the inventory,
// item-name and item-settings commands.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTableView;

namespace torvane {

class GuiContext;
class ItemOverview;
class RecordListModel;

class InventoryPane : public QWidget {
  Q_OBJECT

 public:
  explicit InventoryPane(GuiContext& context, QWidget* parent = nullptr);

  // Fills 超级列表框_仓库: mode 1 every card, 2 the cards whose card number is text, 3 the cards of the
  // item text; no card is ticked afterwards. 标签_卡密数量 shows the number of rows, or the store's
  // failure instead of the list.
  void FillInventoryList(int mode, const std::string& text = {});
  // After a delivery run: the cards of the item the selector shows again, ticks kept for the cards
  // still listed.
  void RefreshStoreView();
  // "全部卡密" then the names of 宝贝名称.txt; item 0 selected, the list left as it is.
  void FillItemSelector();
  // Reads the items' stock and settings again for the overview (on a worker; after a long store
  // write when one runs).
  void ReloadItemOverview();

  RecordListModel* Model() const { return model_; }
  QMenu* CardMenu() const { return cardMenu_; }
  QMenu* ItemMenu() const { return itemMenu_; }
  ItemOverview* Overview() const { return overview_; }

  // The menu commands (also reached through the menus).
  void DeleteTickedCards();
  QWidget* OpenAddCardWindow();
  QWidget* OpenBatchWindow();
  QWidget* OpenModifyWindow();
  QWidget* OpenCardNumberWindow();
  QWidget* OpenAddItemWindow();
  QWidget* OpenRenameItemWindow();
  QWidget* OpenDeleteItemWindow();
  // "宝贝设置" for the item the overview or the selector shows.
  QWidget* OpenItemSettingsWindow();

 private:
  void BuildControls();
  void BuildMenus();
  void ShowSelectedItem();
  void ShowStoreFailure(const QString& reason);
  void OnStoreWorkChanged(bool running);
  // The small window of this kind, made by make when none is open.
  template <typename Make>
  QWidget* OpenWindow(QPointer<QWidget>& slot, Make make);

  GuiContext& context_;
  RecordListModel* model_ = nullptr;
  ItemOverview* overview_ = nullptr;
  QComboBox* itemSelector_ = nullptr;
  QTableView* list_ = nullptr;
  QCheckBox* tickAll_ = nullptr;
  QLabel* count_ = nullptr;
  QLabel* failure_ = nullptr;
  QPushButton* cardButton_ = nullptr;
  QPushButton* itemButton_ = nullptr;
  QMenu* cardMenu_ = nullptr;
  QMenu* itemMenu_ = nullptr;
  QPointer<QWidget> addCard_, batch_, modify_, cardNumber_, addItem_, renameItem_, deleteItem_, itemSettings_;
  bool overviewDeferred_ = false;
};

}  // namespace torvane
