// The inventory pane's overview of its items, "超级列表框_宝贝库存": each item (as ReadItemStocks lists
// them) with its stock, its low-stock threshold and its marks ("库存预警" in red at or below the
// threshold, "循环" for a reusable item), from 宝贝设置.ini and the inventory store. The counting runs on a worker (a large
// inventory takes a while); the rows come back through PostToUi.
#pragma once

#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/item_stocks.h"

class QLabel;
class QTableWidget;

namespace torvane {

class CardStores;
class GuiContext;

class ItemOverview : public QWidget {
  Q_OBJECT

 public:
  ItemOverview(GuiContext& context, QWidget* parent = nullptr);
  // Waits for a read under way: it uses the stores, which may be closed right after the pane goes.
  ~ItemOverview() override;

  // Reads the items again on a worker; a reload asked for while one runs follows it.
  void Reload();
  // The rows as last read.
  const std::vector<ItemStock>& Items() const { return items_; }
  // The item of the selected row ("" for none).
  std::string SelectedItem() const;

 signals:
  // A row was double-clicked: show that item's cards.
  void itemActivated(const QString& item);
  // The rows were read again.
  void reloaded();

 private:
  void Show(std::vector<ItemStock> items, const std::string& error);

  // How many workers are reading, shared with them.
  struct Flight {
    std::mutex mutex;
    std::condition_variable done;
    int reading = 0;
  };

  GuiContext& context_;
  QTableWidget* table_ = nullptr;
  QLabel* failure_ = nullptr;
  std::vector<ItemStock> items_;
  std::shared_ptr<Flight> flight_ = std::make_shared<Flight>();
  bool running_ = false;
  bool again_ = false;
};

}  // namespace torvane
