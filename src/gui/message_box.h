// Every modal message box of the program goes through this class, so that a test can answer the
// boxes in advance and no widget test ever waits on a modal loop.
#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace torvane {

class MessageBox {
 public:
  enum class Icon { kNone, kInformation, kWarning, kCritical, kQuestion };
  // Buttons, combinable; Show returns the one pressed.
  enum Button { kOk = 0x1, kCancel = 0x2, kYes = 0x4, kNo = 0x8 };

  // A box as it was asked for (kept for tests).
  struct Shown {
    QString title;
    QString text;
    Icon icon = Icon::kNone;
    int buttons = kOk;
  };

  // Shows a modal box on the UI thread and returns the button pressed; closing the box without a
  // button gives kCancel (kNo when there is no Cancel, kOk for an OK-only box).
  static int Show(QWidget* parent, const QString& title, const QString& text, Icon icon, int buttons);

  // "提示" with the information icon and OK.
  static void Inform(QWidget* parent, const QString& text);
  // A failure: "提示" with the error icon and OK.
  static void Fail(QWidget* parent, const QString& text);
  // "请确认" with OK and Cancel; true only on OK.
  static bool Confirm(QWidget* parent, const QString& text);

  // Tests: from now on no box is shown; each is recorded and answered with the next answer set by
  // SetNextAnswer, or (none left) with its first button in the order OK, Yes, No, Cancel.
  static void SetAnswerWithoutShowing(bool on);
  static void SetNextAnswer(int button);
  // The boxes asked for since the last call (recorded in both modes).
  static QList<Shown> TakeShown();
};

}  // namespace torvane
