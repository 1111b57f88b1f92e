#include "gui/sales_pane.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>

#include "gui/gbk.h"
#include "gui/gui_context.h"
#include "gui/store_controls.h"
#include "gui/ui_queue.h"

namespace torvane {

namespace {

// The selector's first two entries; the items follow.
constexpr int kAllTogether = 0;
constexpr int kEachItem = 1;
// Lines drawn one per item at most; the other items' codes make one more line.
constexpr std::size_t kItemLines = 8;

enum Column { kName, kStock, kLowStock, kToday, kWeek, kPeriod, kColumns };

// Item names sort as the stores order them: by their GBK bytes (the common characters by pinyin).
class NameCell : public QTableWidgetItem {
 public:
  explicit NameCell(const std::string& gbk) : QTableWidgetItem(FromGbk(gbk)), gbk_(gbk) {}
  bool operator<(const QTableWidgetItem& other) const override {
    if (const auto* name = dynamic_cast<const NameCell*>(&other)) return gbk_ < name->gbk_;
    return QTableWidgetItem::operator<(other);
  }

 private:
  std::string gbk_;
};

// An empty chart with the pane's title: every drawing starts on a new one, so nothing of the last one
// (its axes above all) stays behind.
QChart* NewChart() {
  auto* chart = new QChart;
  chart->setTitle(QStringLiteral(u"近30日每日发出卡密数"));
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(4, 4, 4, 4));
  return chart;
}

QTableWidgetItem* NumberCell(std::int64_t value) {
  auto* cell = new QTableWidgetItem;
  cell->setData(Qt::DisplayRole, QVariant::fromValue<qlonglong>(value));
  cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return cell;
}

}  // namespace

SalesPane::SalesPane(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("SalesPane"));
  BuildControls();
  // A delivery run or a store command changed the stores: figures on show are kept current.
  connect(&context_, &GuiContext::storeViewsRefresh, this, [this] {
    if (isVisible()) Refresh();
  });
}

void SalesPane::BuildControls() {
  auto* caption = Named(new QLabel(QStringLiteral(u"图表显示："), this), u"标签_图表显示");
  series_ = Named(new QComboBox(this), u"组合框_销售图表");
  series_->setMinimumWidth(200);
  series_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  series_->addItem(QStringLiteral(u"全部宝贝合计"));
  series_->addItem(QStringLiteral(u"每个宝贝一条线"));
  refresh_ = Named(new QPushButton(QStringLiteral(u"刷新"), this), u"按钮_刷新统计");
  status_ = Named(new QLabel(this), u"标签_统计状态");
  status_->setWordWrap(true);

  chartView_ = Named(new QChartView(NewChart(), this), u"图表_销售");
  chartView_->setRenderHint(QPainter::Antialiasing);
  chartView_->setMinimumHeight(230);

  table_ = Named(new QTableWidget(0, kColumns, this), u"表格_销售统计");
  table_->setHorizontalHeaderLabels({QStringLiteral(u"宝贝名称"), QStringLiteral(u"库存"), QStringLiteral(u"库存预警"),
                                     QStringLiteral(u"今日"), QStringLiteral(u"7日"), QStringLiteral(u"30日")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
  for (int c = kStock; c < kColumns; ++c) table_->setColumnWidth(c, 64);
  table_->sortByColumn(kName, Qt::AscendingOrder);

  auto* top = new QHBoxLayout;
  top->addWidget(caption);
  top->addWidget(series_);
  top->addStretch();
  top->addWidget(refresh_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(status_);
  layout->addWidget(chartView_, 3);
  layout->addWidget(table_, 2);

  connect(series_, &QComboBox::currentIndexChanged, this, [this] { DrawChart(); });
  connect(refresh_, &QPushButton::clicked, this, &SalesPane::Refresh);
}

void SalesPane::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void SalesPane::Refresh() {
  if (reading_) {
    again_ = true;
    return;
  }
  if (!context_.stores) {
    Show(nullptr, "卡密库未打开");
    return;
  }
  reading_ = true;
  refresh_->setEnabled(false);
  status_->setStyleSheet({});
  status_->setText(QStringLiteral(u"正在统计..."));
  CardStores* stores = context_.stores;
  const std::filesystem::path dataDir = context_.dataDir;
  GuiContext* context = &context_;
  // The answer goes through the context, which outlives every worker; the pane may be gone by then.
  QPointer<SalesPane> self(this);
  const bool started = context_.RunOnWorker([stores, dataDir, context, self] {
    std::string error;
    auto stats = ReadSalesStats(*stores, dataDir, LocalDay(std::time(nullptr)), kSalesDefaultDays, &error);
    std::shared_ptr<const SalesStats> figures;
    if (stats) figures = std::make_shared<const SalesStats>(std::move(*stats));
    PostToUi(context, [self, figures, error] {
      if (self) self->Show(figures, error);
    });
  });
  if (!started) {
    reading_ = false;
    Show(nullptr, "无法启动工作线程");
  }
}

void SalesPane::Show(std::shared_ptr<const SalesStats> stats, const std::string& error) {
  reading_ = false;
  refresh_->setEnabled(true);
  // Never figures beside a failure that could pass for current ones.
  stats_ = std::move(stats);
  if (!stats_) {
    status_->setStyleSheet(QStringLiteral("color: #b00020; font-weight: bold;"));
    status_->setText(QStringLiteral(u"统计失败: ") + FromGbk(error));
  } else {
    std::int64_t total = 0;
    for (const ItemSales& item : stats_->items) total += item.period;
    status_->setStyleSheet({});
    status_->setText(QStringLiteral(u"近30日共发出 %1 个卡密，统计于 %2")
                         .arg(total)
                         .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
  }
  // The selector keeps the chosen item while it is still among the items; else all items together.
  const bool itemChosen = series_->currentIndex() > kEachItem;
  const QByteArray chosen = itemChosen ? series_->currentData().toByteArray() : QByteArray();
  const int mode = itemChosen ? kAllTogether : std::max(series_->currentIndex(), kAllTogether);
  const bool blocked = series_->blockSignals(true);
  while (series_->count() > kEachItem + 1) series_->removeItem(series_->count() - 1);
  series_->setCurrentIndex(mode);
  if (stats_) {
    for (const ItemSales& item : stats_->items) {
      const QByteArray name(item.item.data(), static_cast<qsizetype>(item.item.size()));
      series_->addItem(FromGbk(item.item), name);
      if (!chosen.isEmpty() && name == chosen) series_->setCurrentIndex(series_->count() - 1);
    }
  }
  series_->blockSignals(blocked);
  FillTable();
  DrawChart();
  emit figuresShown();
  if (again_) {
    again_ = false;
    Refresh();
  }
}

void SalesPane::FillTable() {
  table_->setSortingEnabled(false);
  table_->setRowCount(0);
  if (stats_) {
    table_->setRowCount(static_cast<int>(stats_->items.size()));
    int row = 0;
    for (const ItemSales& item : stats_->items) {
      table_->setItem(row, kName, new NameCell(item.item));
      QTableWidgetItem* stock = NumberCell(item.stock);
      if (item.lowStock && item.stock <= *item.lowStock) {
        stock->setForeground(QColor(0xb0, 0x00, 0x20));
        stock->setToolTip(QStringLiteral(u"库存已到预警线"));
      }
      table_->setItem(row, kStock, stock);
      table_->setItem(row, kLowStock, item.lowStock ? NumberCell(*item.lowStock) : new QTableWidgetItem);
      table_->setItem(row, kToday, NumberCell(item.today));
      table_->setItem(row, kWeek, NumberCell(item.week));
      table_->setItem(row, kPeriod, NumberCell(item.period));
      ++row;
    }
  }
  table_->setSortingEnabled(true);
}

void SalesPane::DrawChart() {
  QChart* chart = NewChart();
  QChart* old = chartView_->chart();
  chartView_->setChart(chart);
  delete old;
  if (!stats_ || stats_->days.empty()) return;

  struct Line {
    QString name;
    std::vector<std::int64_t> perDay;
  };
  std::vector<Line> lines;
  const std::size_t dayCount = stats_->days.size();
  const int mode = series_->currentIndex();
  if (mode == kAllTogether) {
    Line all{QStringLiteral(u"全部宝贝"), std::vector<std::int64_t>(dayCount, 0)};
    for (const ItemSales& item : stats_->items) {
      for (std::size_t d = 0; d < dayCount; ++d) all.perDay[d] += item.perDay[d];
    }
    lines.push_back(std::move(all));
  } else if (mode == kEachItem) {
    // The best-selling items each get a line; the others' codes are added up on one more.
    std::vector<const ItemSales*> sold;
    for (const ItemSales& item : stats_->items) {
      if (item.period > 0) sold.push_back(&item);
    }
    std::stable_sort(sold.begin(), sold.end(), [](const ItemSales* a, const ItemSales* b) { return a->period > b->period; });
    Line others{QStringLiteral(u"其他宝贝"), std::vector<std::int64_t>(dayCount, 0)};
    for (std::size_t i = 0; i < sold.size(); ++i) {
      if (i < kItemLines) {
        lines.push_back({FromGbk(sold[i]->item), sold[i]->perDay});
      } else {
        for (std::size_t d = 0; d < dayCount; ++d) others.perDay[d] += sold[i]->perDay[d];
      }
    }
    if (sold.size() > kItemLines) lines.push_back(std::move(others));
  } else {
    const QByteArray chosen = series_->currentData().toByteArray();
    for (const ItemSales& item : stats_->items) {
      if (chosen == QByteArray(item.item.data(), static_cast<qsizetype>(item.item.size()))) {
        lines.push_back({FromGbk(item.item), item.perDay});
      }
    }
  }

  std::vector<qint64> moments;
  for (const std::string& day : stats_->days) {
    moments.push_back(QDateTime(QDate::fromString(QString::fromLatin1(day.c_str()), Qt::ISODate), QTime(0, 0))
                          .toMSecsSinceEpoch());
  }
  auto* x = new QDateTimeAxis;
  x->setFormat(QStringLiteral("MM-dd"));
  x->setTickCount(6);
  x->setRange(QDateTime::fromMSecsSinceEpoch(moments.front()), QDateTime::fromMSecsSinceEpoch(moments.back()));
  auto* y = new QValueAxis;
  y->setLabelFormat(QStringLiteral("%d"));
  std::int64_t top = 0;
  for (const Line& line : lines) top = std::max(top, *std::max_element(line.perDay.begin(), line.perDay.end()));
  y->setRange(0, static_cast<qreal>(std::max<std::int64_t>(top, 4)));
  y->applyNiceNumbers();
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (const Line& line : lines) {
    auto* series = new QLineSeries;
    series->setName(line.name);
    series->setPointsVisible(lines.size() == 1);
    for (std::size_t d = 0; d < dayCount; ++d) series->append(static_cast<qreal>(moments[d]), static_cast<qreal>(line.perDay[d]));
    chart->addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
  }
  chart->legend()->setVisible(lines.size() > 1 || mode > kEachItem);
}

}  // namespace torvane
