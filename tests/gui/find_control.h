// The window tests find every control by its object name, as a seller's script would.
#pragma once

#include <QString>
#include <QWidget>
#include <QtGlobal>

namespace torvane::test {

// The child of root named name; the test program stops when there is none.
template <typename T>
T* Find(QWidget* root, const char16_t* name) {
  T* widget = root->findChild<T*>(QString::fromUtf16(name));
  if (!widget) qFatal("no control %s", qPrintable(QString::fromUtf16(name)));
  return widget;
}

}  // namespace torvane::test
