// DisplayProblem (app/display_check.h) on Windows: a desktop to show windows
// on is always there.
#include "app/display_check.h"

namespace portwick {

std::string DisplayProblem() { return {}; }

}  // namespace portwick
