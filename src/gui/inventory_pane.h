// The "卡密库存" pane: the inventory of card codes, its item selector, list and pop-up menus.
#pragma once

#include <QWidget>

namespace torvane {

class GuiContext;

class InventoryPane : public QWidget {
  Q_OBJECT

 public:
  explicit InventoryPane(GuiContext& context, QWidget* parent = nullptr);

 private:
  GuiContext& context_;
};

}  // namespace torvane
