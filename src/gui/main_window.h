// The main window: a frame with the logo, the title and six navigation entries, each showing one pane.
#pragma once

#include <QWidget>
#include <vector>

class QButtonGroup;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace torvane {

class GuiContext;
class ActivityPane;
class SettingsPane;
class InventoryPane;
class SentRecordsPane;
class TutorialPane;
class SalesPane;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(GuiContext& context, QWidget* parent = nullptr);

  // Creates the panes in their order (activity, settings, inventory, sent records, tutorial, sales),
  // then the navigation entries "程序配置", "实时动态", "卡密库存", "已发卡密", "使用教程", "销售统计".
  // Called once.
  void CreatePanes();

  ActivityPane* Activity() const { return activity_; }
  SettingsPane* SettingsView() const { return settings_; }
  InventoryPane* Inventory() const { return inventory_; }
  SentRecordsPane* SentRecords() const { return sentRecords_; }
  TutorialPane* Tutorial() const { return tutorial_; }
  SalesPane* Sales() const { return sales_; }

  // Shows the pane of the navigation entry (0..5 in the order above).
  void ShowPane(int entry);
  // The navigation entry whose pane is shown.
  int CurrentEntry() const;
  // The navigation entry's button (tests and screenshots).
  QToolButton* NavigationButton(int entry) const;

  // Visible and in normal state (restored when minimised).
  void ShowNormalWindow();

 public slots:
  // Refills both store panes' lists from the stores; runs on the UI thread after every delivery run.
  void RefreshStoreViews();

 signals:
  // The close box was used: the life cycle runs the exit steps.
  void closeRequested();

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void AddNavigationEntry(const QString& caption, const QString& iconPath, QWidget* pane);

  GuiContext& context_;
  QVBoxLayout* navigation_ = nullptr;
  QButtonGroup* entries_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  ActivityPane* activity_ = nullptr;
  SettingsPane* settings_ = nullptr;
  InventoryPane* inventory_ = nullptr;
  SentRecordsPane* sentRecords_ = nullptr;
  TutorialPane* tutorial_ = nullptr;
  SalesPane* sales_ = nullptr;
};

}  // namespace torvane
