#include "resources/app_icon.h"

#include <QtCore/QString>

// Pulls the compiled resource file into any program that uses the icon; the
// linker would leave it out of a static library otherwise. Must be called
// outside any namespace.
static void InitIconResources() { Q_INIT_RESOURCE(portwick); }

namespace portwick {

QIcon ApplicationIcon() {
  InitIconResources();
  QIcon icon;
  icon.addFile(QStringLiteral(":/portwick/icon-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/portwick/icon-32.png"), QSize(32, 32));
  return icon;
}

}  // namespace portwick
