#include "gui/open_address.h"

#include <QDesktopServices>
#include <QUrl>

#include "app/update_check.h"
#include "gui/gbk.h"

namespace torvane {

namespace {
std::function<void(const QString&)>& Opener() {
  static std::function<void(const QString&)> opener;
  return opener;
}
}  // namespace

void OpenAddress(const QString& address) {
  // Only plain web addresses: a configured or published text never opens a local file or starts a program.
  if (!IsSafeWebAddress(ToGbk(address))) return;
  if (Opener()) {
    Opener()(address);
    return;
  }
  QDesktopServices::openUrl(QUrl(address));
}

void SetAddressOpener(std::function<void(const QString&)> opener) { Opener() = std::move(opener); }

}  // namespace torvane
