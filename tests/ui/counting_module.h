#ifndef PORTWICK_TESTS_UI_COUNTING_MODULE_H_
#define PORTWICK_TESTS_UI_COUNTING_MODULE_H_

#include "ui/version_reader.h"

namespace portwick {

// A module whose version block the test chooses; counts how often it is read.
class CountingModule : public ResourceModule {
 public:
  explicit CountingModule(const VersionResource* resource) : resource_(resource) {}
  const VersionResource* FindVersionResource() const override {
    ++reads_;
    return resource_;
  }
  int reads() const { return reads_; }

 private:
  const VersionResource* resource_;
  mutable int reads_ = 0;
};

}  // namespace portwick

#endif  // PORTWICK_TESTS_UI_COUNTING_MODULE_H_
