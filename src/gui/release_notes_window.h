// The release-notes window "1.8更新内容" shown at every start before the main window. When the update
// check finds another published version it turns into the question whether to update.
#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace torvane {

class ReleaseNotesWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ReleaseNotesWindow(QWidget* parent = nullptr);

  // The new-version state: the question "发现新版本 是否进行更新" with 按钮_是 and 按钮_否.
  void ShowNewVersion();
  bool InNewVersionState() const { return newVersion_; }

 signals:
  void dismissed();      // 按钮_确认 or 按钮_否
  void updateChosen();   // 按钮_是
  void closedWithoutChoice();  // closed by its close box before any button

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QGroupBox* group_ = nullptr;
  QLabel* notes_ = nullptr;
  QLabel* hint_ = nullptr;
  QPushButton* yes_ = nullptr;
  QPushButton* no_ = nullptr;
  QPushButton* confirm_ = nullptr;
  bool newVersion_ = false;
  bool chosen_ = false;
};

}  // namespace torvane
