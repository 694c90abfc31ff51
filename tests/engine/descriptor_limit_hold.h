#pragma once
// Holds the process at its descriptor limit for the object's scope: the soft
// limit is lowered to what is open now and every free number below it is
// filled with /dev/null, so the next open, socket or pipe fails with EMFILE.
// The object owns the filler descriptors; construct and destroy it on the
// test's thread, with no other test changing the limit meanwhile. Windows
// has no such limit: there the hold does nothing and reached() is false (the
// tests that use it are posix_only).

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <cstddef>
#include <vector>

namespace portwick::testing {

class DescriptorLimitHold {
 public:
  DescriptorLimitHold();
  DescriptorLimitHold(const DescriptorLimitHold&) = delete;
  DescriptorLimitHold& operator=(const DescriptorLimitHold&) = delete;
  ~DescriptorLimitHold();

  // True when filling ended at the limit (not at some other failure).
  bool reached() const;
  // Closes up to `count` fillers, leaving that many numbers free.
  void Free(size_t count);

 private:
#if !defined(_WIN32)
  rlimit saved_{};
#endif
  std::vector<int> fillers_;
  int error_ = 0;
};

}  // namespace portwick::testing
