// The "已发卡密" pane: the record of codes sent, its query, deletion, the clicked cell in detail, and
// the ticked orders at "发送失败" sent again with their own codes, and the records handed over in a
// range of days.
#pragma once

#include <QWidget>
#include <string>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace torvane {

class GuiContext;
class RecordListModel;

class SentRecordsPane : public QWidget {
  Q_OBJECT

 public:
  explicit SentRecordsPane(GuiContext& context, QWidget* parent = nullptr);

  // Fills 超级列表框_仓库: mode 0 every record; otherwise the records whose order number (组合框_查询 on
  // "订单编号") or buyer ("客户旺旺") equals text byte for byte. No record is ticked afterwards; a store
  // failure is shown instead of the list.
  void FillSentList(int mode, const std::string& text = {});
  // After a delivery run: every record, ticks kept for the records still listed.
  void RefreshStoreView();

  RecordListModel* Model() const { return model_; }

  // The pane's commands (also reached through its buttons).
  void Query();
  // The records handed over from the day of 编辑框_开始日期 to the day of 编辑框_结束日期, both whole.
  void QueryDates();
  void DeleteTicked();
  // The orders of the ticked records at "发送失败", after a confirmation, on a worker; the outcome is
  // logged by the engine and shown in a box when it is known.
  void ResendTicked();
  bool Resending() const { return resending_; }

 signals:
  // A resend has ended and its outcome was shown.
  void resendFinished(bool allWell);

 private:
  void BuildControls();
  void ShowCell(const QModelIndex& index);
  void ShowStoreFailure(const QString& reason);
  void ShowFilled(bool read);

  GuiContext& context_;
  RecordListModel* model_ = nullptr;
  QComboBox* queryField_ = nullptr;
  QLineEdit* queryText_ = nullptr;
  QDateEdit* fromDate_ = nullptr;
  QDateEdit* toDate_ = nullptr;
  QTableView* list_ = nullptr;
  QCheckBox* tickAll_ = nullptr;
  QPushButton* resend_ = nullptr;
  QLineEdit* detail_ = nullptr;
  QLabel* failure_ = nullptr;
  bool resending_ = false;
};

}  // namespace torvane
