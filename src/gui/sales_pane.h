// The "销售统计" pane: codes handed over per day in the last 30 days as a chart (all items together,
// one line per item, or one chosen item) and a table of each item's stock, threshold and codes sent
// today, in 7 and in 30 days. The figures are read on a worker whenever the pane is shown, the 刷新
// button is pressed or the stores changed while it is shown; the window never waits for them.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "store/sales_stats.h"

class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace torvane {

class GuiContext;

class SalesPane : public QWidget {
  Q_OBJECT

 public:
  explicit SalesPane(GuiContext& context, QWidget* parent = nullptr);

  // Reads the figures afresh on a worker: "正在统计..." until they come, then the chart and the table,
  // or the reason they could not be read. A refresh asked for while one is reading runs after it.
  void Refresh();
  bool Reading() const { return reading_; }

 signals:
  // After the figures (or the failure) of a refresh are shown.
  void figuresShown();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void Show(std::shared_ptr<const SalesStats> stats, const std::string& error);
  void FillTable();
  void DrawChart();

  GuiContext& context_;
  QComboBox* series_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QLabel* status_ = nullptr;
  QChartView* chartView_ = nullptr;
  QTableWidget* table_ = nullptr;
  std::shared_ptr<const SalesStats> stats_;
  bool reading_ = false;
  bool again_ = false;
};

}  // namespace torvane
