#ifndef PORTWICK_UI_FRAMEWORK_QT_PANE_TEXT_QUEUE_H_
#define PORTWICK_UI_FRAMEWORK_QT_PANE_TEXT_QUEUE_H_

#include <QString>

#include "ui/framework/pane_text_queue.h"

namespace portwick {

// The output pane's queue of decoded text under Qt (see
// ui/framework/pane_text_queue.h for how it behaves).
using PaneTextQueue = BasicPaneTextQueue<QString>;

// Compiled once, in pane_text_queue.cc.
extern template class BasicPaneTextQueue<QString>;

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_QT_PANE_TEXT_QUEUE_H_
