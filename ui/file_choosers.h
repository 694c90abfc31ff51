#ifndef PORTWICK_UI_FILE_CHOOSERS_H_
#define PORTWICK_UI_FILE_CHOOSERS_H_

// FileChoosers belongs to the windowing layer now; this name stays for the
// windows that include it here.
#include "ui/framework/file_choosers.h"

#endif  // PORTWICK_UI_FILE_CHOOSERS_H_
