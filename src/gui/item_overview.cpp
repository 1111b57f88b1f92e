#include "gui/item_overview.h"

#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/store_controls.h"
#include "gui/ui_queue.h"
#include "store/record_store.h"

namespace torvane {

namespace {

constexpr int kRowsShown = 4;
const QColor kLowColor(0xc6, 0x28, 0x28);
const QColor kLowBackground(0xfd, 0xec, 0xea);
const QColor kReusableColor(0x1e, 0x6f, 0xa8);

}  // namespace

ItemOverview::ItemOverview(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  table_ = Named(new QTableWidget(0, 4, this), u"超级列表框_宝贝库存");
  table_->setHorizontalHeaderLabels({QStringLiteral(u"宝贝名称"), QStringLiteral(u"库存"), QStringLiteral(u"库存预警"),
                                     QStringLiteral(u"状态")});
  table_->verticalHeader()->setVisible(false);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setColumnWidth(0, 270);
  table_->setColumnWidth(1, 90);
  table_->setColumnWidth(2, 90);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->setDefaultSectionSize(22);
  table_->setFixedHeight(table_->horizontalHeader()->sizeHint().height() + kRowsShown * 22 + 2 * table_->frameWidth());
  table_->setToolTip(QStringLiteral(u"双击查看该宝贝的卡密；库存预警与循环发货在“宝贝操作 → 宝贝设置”中设置"));
  failure_ = Named(new QLabel(this), u"标签_宝贝库存读取失败");
  failure_->setStyleSheet(QStringLiteral("color: #c62828;"));
  failure_->setWordWrap(true);
  failure_->setVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(table_);
  layout->addWidget(failure_);
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (row >= 0 && row < static_cast<int>(items_.size())) emit itemActivated(FromGbk(items_[row].item));
  });
}

ItemOverview::~ItemOverview() {
  std::unique_lock<std::mutex> lock(flight_->mutex);
  flight_->done.wait(lock, [this] { return flight_->reading == 0; });
}

std::string ItemOverview::SelectedItem() const {
  const int row = table_->currentRow();
  if (row < 0 || row >= static_cast<int>(items_.size()) || table_->selectedItems().isEmpty()) return {};
  return items_[static_cast<std::size_t>(row)].item;
}

void ItemOverview::Reload() {
  if (!context_.stores) return;
  if (running_) {
    again_ = true;
    return;
  }
  running_ = true;
  CardStores* stores = context_.stores;
  const std::filesystem::path dataDir = context_.dataDir;
  GuiContext* context = &context_;
  QPointer<ItemOverview> self(this);
  std::shared_ptr<Flight> flight = flight_;
  {
    std::lock_guard<std::mutex> lock(flight->mutex);
    ++flight->reading;
  }
  const bool started = context_.RunOnWorker([stores, dataDir, context, self, flight] {
    auto error = std::make_shared<std::string>();
    auto items = std::make_shared<std::vector<ItemStock>>(ReadItemStocks(*stores, dataDir, error.get()));
    PostToUi(context, [self, items, error] {
      if (self) self->Show(std::move(*items), *error);
    });
    std::lock_guard<std::mutex> lock(flight->mutex);
    --flight->reading;
    flight->done.notify_all();
  });
  if (!started) {
    running_ = false;
    std::lock_guard<std::mutex> lock(flight->mutex);
    --flight->reading;
  }
}

void ItemOverview::Show(std::vector<ItemStock> items, const std::string& error) {
  running_ = false;
  if (again_) {
    again_ = false;
    Reload();
    return;
  }
  const std::string selected = SelectedItem();
  items_ = std::move(items);
  table_->setRowCount(static_cast<int>(items_.size()));
  for (int row = 0; row < static_cast<int>(items_.size()); ++row) {
    const ItemStock& s = items_[static_cast<std::size_t>(row)];
    QStringList marks;
    if (s.Low()) marks << QStringLiteral(u"库存预警");
    if (s.setting.reusable) marks << QStringLiteral(u"循环");
    const QString cells[] = {FromGbk(s.item), QString::number(s.stock),
                             s.setting.lowStock ? QString::number(*s.setting.lowStock) : QStringLiteral("-"),
                             marks.join(QStringLiteral("  "))};
    for (int column = 0; column < 4; ++column) {
      auto* cell = new QTableWidgetItem(cells[column]);
      if (column == 1 || column == 2) cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (s.Low()) {
        cell->setBackground(kLowBackground);
        if (column == 1 || column == 3) {
          cell->setForeground(kLowColor);
          QFont bold = cell->font();
          bold.setBold(true);
          cell->setFont(bold);
        }
      } else if (column == 3 && s.setting.reusable) {
        cell->setForeground(kReusableColor);
      }
      table_->setItem(row, column, cell);
    }
    if (s.item == selected) table_->selectRow(row);
  }
  failure_->setText(error.empty() ? QString() : QStringLiteral(u"宝贝库存读取失败: ") + FromGbk(error));
  failure_->setVisible(!error.empty());
  emit reloaded();
}

}  // namespace torvane
