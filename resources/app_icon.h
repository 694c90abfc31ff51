#ifndef PORTWICK_RESOURCES_APP_ICON_H_
#define PORTWICK_RESOURCES_APP_ICON_H_

#include <QtGui/QIcon>

namespace portwick {

// The application icon with its 16- and 32-pixel images, compiled into the
// program. Needs a QGuiApplication; call on the GUI thread.
QIcon ApplicationIcon();

}  // namespace portwick

#endif  // PORTWICK_RESOURCES_APP_ICON_H_
