#include "gui/message_box.h"

#include <QPushButton>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QQueue>

namespace torvane {

namespace {

struct Seam {
  QMutex mutex;
  bool withoutShowing = false;
  QQueue<int> answers;
  QList<MessageBox::Shown> shown;
};

Seam& TheSeam() {
  static Seam seam;
  return seam;
}

int DefaultAnswer(int buttons) {
  for (int b : {MessageBox::kOk, MessageBox::kYes, MessageBox::kNo, MessageBox::kCancel}) {
    if (buttons & b) return b;
  }
  return MessageBox::kOk;
}

QMessageBox::Icon QtIcon(MessageBox::Icon icon) {
  switch (icon) {
    case MessageBox::Icon::kInformation: return QMessageBox::Information;
    case MessageBox::Icon::kWarning: return QMessageBox::Warning;
    case MessageBox::Icon::kCritical: return QMessageBox::Critical;
    case MessageBox::Icon::kQuestion: return QMessageBox::Question;
    case MessageBox::Icon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

int MessageBox::Show(QWidget* parent, const QString& title, const QString& text, Icon icon, int buttons) {
  Seam& seam = TheSeam();
  {
    QMutexLocker lock(&seam.mutex);
    seam.shown.append(Shown{title, text, icon, buttons});
    if (seam.withoutShowing) {
      return seam.answers.isEmpty() ? DefaultAnswer(buttons) : seam.answers.dequeue();
    }
  }
  QMessageBox box(QtIcon(icon), title, text, QMessageBox::NoButton, parent);
  const std::pair<int, QMessageBox::StandardButton> map[] = {
      {kOk, QMessageBox::Ok}, {kYes, QMessageBox::Yes}, {kNo, QMessageBox::No}, {kCancel, QMessageBox::Cancel}};
  for (const auto& [ours, qt] : map) {
    if (buttons & ours) {
      QPushButton* button = box.addButton(qt);
      if (ours == kOk) button->setText(QStringLiteral(u"确定"));
      if (ours == kCancel) button->setText(QStringLiteral(u"取消"));
      if (ours == kYes) button->setText(QStringLiteral(u"是"));
      if (ours == kNo) button->setText(QStringLiteral(u"否"));
    }
  }
  const int pressed = box.exec();
  for (const auto& [ours, qt] : map) {
    if (pressed == qt) return ours;
  }
  if (buttons & kCancel) return kCancel;
  if (buttons & kNo) return kNo;
  return kOk;
}

void MessageBox::Inform(QWidget* parent, const QString& text) {
  Show(parent, QStringLiteral(u"提示"), text, Icon::kInformation, kOk);
}

void MessageBox::Fail(QWidget* parent, const QString& text) {
  Show(parent, QStringLiteral(u"提示"), text, Icon::kCritical, kOk);
}

bool MessageBox::Confirm(QWidget* parent, const QString& text) {
  return Show(parent, QStringLiteral(u"请确认"), text, Icon::kQuestion, kOk | kCancel) == kOk;
}

void MessageBox::SetAnswerWithoutShowing(bool on) {
  QMutexLocker lock(&TheSeam().mutex);
  TheSeam().withoutShowing = on;
  if (!on) TheSeam().answers.clear();
}

void MessageBox::SetNextAnswer(int button) {
  QMutexLocker lock(&TheSeam().mutex);
  TheSeam().answers.enqueue(button);
}

QList<MessageBox::Shown> MessageBox::TakeShown() {
  QMutexLocker lock(&TheSeam().mutex);
  QList<Shown> out;
  out.swap(TheSeam().shown);
  return out;
}

}  // namespace torvane
