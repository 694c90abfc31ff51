#ifndef PORTWICK_UI_FRAMEWORK_NATIVE_WINDOW_H_
#define PORTWICK_UI_FRAMEWORK_NATIVE_WINDOW_H_

namespace portwick {

// A top-level window of the toolkit, passed through the neutral layer
// without being looked into: an HWND under Win32; under Qt the window's
// QWidget* (a pointer to a class whose first base is QWidget converts to the
// same address). Null means no window. Borrowed; valid while the window
// exists.
using NativeWindow = void*;

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_NATIVE_WINDOW_H_
