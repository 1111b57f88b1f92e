// The pop-up notice: a small window that rises from just below the bottom-right corner of the screen
// and goes away by itself 10 seconds after it was made. Several at once stand one above the other.
#pragma once

#include <QWidget>

class QLabel;
class QTimer;

namespace torvane {

class NoticePopup : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 241;
  static constexpr int kHeight = 165;

  // Creates a pop-up with the text; it deletes itself after 10 s.
  static NoticePopup* ShowNoticePopup(const QString& text);

  ~NoticePopup() override;

  // Where the pop-up comes to rest (the top edge).
  int TargetTop() const { return targetTop_; }

 private:
  explicit NoticePopup(const QString& text);
  void Step();
  void closeEvent(QCloseEvent* event) override;
  void ReleaseSlot();

  QLabel* label_ = nullptr;
  QTimer* slide_ = nullptr;
  QTimer* expire_ = nullptr;
  int slot_ = 0;       // 0: lowest place; each further live pop-up stands one place higher
  bool holdsSlot_ = true;
  int targetTop_ = 0;
};

}  // namespace torvane
