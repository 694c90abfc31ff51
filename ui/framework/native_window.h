#ifndef PORTWICK_UI_FRAMEWORK_NATIVE_WINDOW_H_
#define PORTWICK_UI_FRAMEWORK_NATIVE_WINDOW_H_

namespace portwick {

// A top-level window of the toolkit, passed through the neutral layer
// without being looked into: a QWidget* under Qt (converted directly, never
// through a base class), an HWND under Win32. Null means no window. Borrowed;
// valid while the window exists.
using NativeWindow = void*;

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_NATIVE_WINDOW_H_
