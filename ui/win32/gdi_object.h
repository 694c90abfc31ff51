#ifndef PORTWICK_UI_WIN32_GDI_OBJECT_H_
#define PORTWICK_UI_WIN32_GDI_OBJECT_H_

#include <windows.h>

namespace portwick {

// Owns a GDI object (font, brush, bitmap) and deletes it on destruction.
// Any thread, one at a time; the object must not be selected into a device
// context when this lets it go.
template <typename Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle handle) : handle_(handle) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  ~GdiObject() { reset(); }

  Handle get() const { return handle_; }
  void reset(Handle handle = nullptr) {
    if (handle_ != nullptr) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

}  // namespace portwick

#endif  // PORTWICK_UI_WIN32_GDI_OBJECT_H_
