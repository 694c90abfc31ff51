#ifndef PORTWICK_UI_SESSIONS_EXPORT_FILE_H_
#define PORTWICK_UI_SESSIONS_EXPORT_FILE_H_

#include <string>

namespace portwick {

// A file an export writes: one on disk, created for its owner only (it holds
// other people's traffic), or a nameless one in memory that is read back
// (for writers that write to a descriptor). Owns its descriptor and closes
// it on destruction. Implemented per platform (ui/sessions/posix/).
//
// Thread safety: one thread at a time, as for any object.
class ExportFile {
 public:
  ExportFile() = default;
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;
  ~ExportFile();

  // Creates or empties `path`. 0, or the errno of the failed open.
  int Create(const std::string& path);
  // Makes the file in memory. 0, or the errno.
  int CreateInMemory();

  // The descriptor to write to; negative before a create succeeded.
  int fd() const { return fd_; }

  // Reads everything written so far into `contents`; false (and nothing
  // read) when it can't.
  bool ReadAll(std::string* contents) const;

  // Closes now; 0, or the errno of a failed close (a write the system could
  // not finish).
  int Close();

 private:
  int fd_ = -1;
};

}  // namespace portwick

#endif  // PORTWICK_UI_SESSIONS_EXPORT_FILE_H_
