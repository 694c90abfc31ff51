#include "ui/framework/qt/pane_text_queue.h"

namespace portwick {

template class BasicPaneTextQueue<QString>;

}  // namespace portwick
