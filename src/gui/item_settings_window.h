// "宝贝设置", the inventory pane's window for one item's settings in 宝贝设置.ini: reusable (循环发货:
// its codes go to every order and never leave the inventory) and the low-stock threshold (库存预警,
// empty for none). Not modal; destroyed when closed.
#pragma once

#include <string>
#include <vector>

#include "gui/inventory_windows.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace torvane {

class ItemSettingsWindow : public InventoryWindow {
  Q_OBJECT

 public:
  // names: the items offered, in order; item: the one to show first ("" for none selected).
  ItemSettingsWindow(GuiContext& context, InventoryPane& pane, const std::vector<std::string>& names,
                     const std::string& item);
  void Save();

 private:
  // The selected item's settings as they stand in the file.
  void ShowSelected();

  QComboBox* item_;
  QCheckBox* reusable_;
  QLineEdit* lowStock_;
};

}  // namespace torvane
