// The small windows of the inventory pane's menus: add one card, add cards in batch, query a card
// number, modify the ticked cards, add, rename and delete an item name. Each is a window of its own,
// not modal, destroyed when closed; its item selector is filled once, when it is made, with nothing
// selected.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "store/inventory_commands.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace torvane {

class GuiContext;
class InventoryPane;

// Base of the small windows: a top-level window owned by the pane.
class InventoryWindow : public QWidget {
  Q_OBJECT

 public:
  InventoryWindow(GuiContext& context, InventoryPane& pane, const QString& title);

 protected:
  GuiContext& context_;
  InventoryPane& pane_;
};

// "添加卡密(单个)".
class AddCardWindow : public InventoryWindow {
  Q_OBJECT

 public:
  AddCardWindow(GuiContext& context, InventoryPane& pane);
  void Add();

 private:
  QComboBox* item_;
  QLineEdit* number_;
  QLineEdit* secret_;
  QLineEdit* note_;
};

// "添加卡密(批量)": the import runs on a worker; duplicates are asked about.
class BatchAddWindow : public InventoryWindow {
  Q_OBJECT

 public:
  BatchAddWindow(GuiContext& context, InventoryPane& pane);
  void Add();
  bool Busy() const { return busy_; }

 signals:
  // The import (each of its passes) has ended and its outcome was shown.
  void importFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Input {
    std::string item, cardText, note;
  };
  void Start(std::shared_ptr<const Input> input, DuplicatePolicy policy);
  void Finished(std::shared_ptr<const Input> input, DuplicatePolicy policy, const CommandOutcome& outcome);
  void ShowProgress(std::size_t done, std::size_t total);
  void SetBusy(bool busy);
  void SelectLine(std::size_t line);

  QComboBox* item_;
  QPlainTextEdit* cards_;
  QLineEdit* note_;
  QPushButton* add_;
  QPushButton* close_;
  QProgressBar* progress_;
  bool busy_ = false;
};

// "卡号查询".
class CardNumberWindow : public InventoryWindow {
  Q_OBJECT

 public:
  CardNumberWindow(GuiContext& context, InventoryPane& pane);
  void Query();

 private:
  QLineEdit* number_;
};

// "修改打钩卡密".
class ModifyCardsWindow : public InventoryWindow {
  Q_OBJECT

 public:
  ModifyCardsWindow(GuiContext& context, InventoryPane& pane);
  void Modify();

 private:
  QComboBox* item_;
  QLineEdit* number_;
  QLineEdit* secret_;
  QLineEdit* note_;
  QCheckBox* useItem_;
  QCheckBox* useNumber_;
  QCheckBox* useSecret_;
  QCheckBox* useNote_;
};

// "添加宝贝".
class AddItemWindow : public InventoryWindow {
  Q_OBJECT

 public:
  AddItemWindow(GuiContext& context, InventoryPane& pane);
  void Add();

 private:
  QLineEdit* name_;
};

// "修改宝贝".
class RenameItemWindow : public InventoryWindow {
  Q_OBJECT

 public:
  RenameItemWindow(GuiContext& context, InventoryPane& pane);
  void Rename();

 private:
  QComboBox* item_;
  QLineEdit* name_;
};

// "删除宝贝".
class DeleteItemWindow : public InventoryWindow {
  Q_OBJECT

 public:
  DeleteItemWindow(GuiContext& context, InventoryPane& pane);
  void Delete();

 private:
  QComboBox* item_;
};

}  // namespace torvane
