// ExportFile (ui/sessions/export_file.h) on Windows. The descriptor is a C
// runtime one over a handle from CreateFileW, so WriteFully writes it past
// the runtime's text mode: bytes go out exactly as captured.
//
// "For its owner only" is a protected access list with one entry, full
// access for the user the program runs as, so neither the folder's inherited
// entries nor other users reach the file. The transcript's file "in memory"
// is a temporary file in the user's temporary folder, created the same way
// and deleted by the system when it is closed.
#include "ui/sessions/export_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

// A security descriptor that gives the current user, and no one else, full
// access and inherits nothing. Empty (and null) when it cannot be made.
class OwnerOnlyDescriptor {
 public:
  OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.reset(new (std::nothrow) BYTE[size]);
    const bool have_user =
        user_ != nullptr && GetTokenInformation(token, TokenUser, user_.get(), size, &size);
    CloseHandle(token);
    if (!have_user) return;
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user_.get())->User.Sid;
    const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl_.reset(new (std::nothrow) BYTE[acl_size]);
    ACL* acl = reinterpret_cast<ACL*>(acl_.get());
    if (acl == nullptr || !InitializeAcl(acl, acl_size, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return;
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ok_ = true;
  }
  OwnerOnlyDescriptor(const OwnerOnlyDescriptor&) = delete;
  OwnerOnlyDescriptor& operator=(const OwnerOnlyDescriptor&) = delete;

  SECURITY_ATTRIBUTES* attributes() { return ok_ ? &attributes_ : nullptr; }

 private:
  std::unique_ptr<BYTE[]> user_;  // TOKEN_USER, holds the SID the ACL names
  std::unique_ptr<BYTE[]> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ok_ = false;
};

// The handle under `fd`; INVALID_HANDLE_VALUE for none (the runtime is not
// asked about -1, which some runtimes treat as a fatal misuse).
HANDLE HandleOf(int fd) {
  return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Hands `file` to the C runtime: its descriptor, or -1 with the handle closed.
int DescriptorOf(HANDLE file, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
  if (fd < 0) CloseHandle(file);
  return fd;
}

int LastErrno() { return ErrnoFromWin32(GetLastError()); }

}  // namespace

ExportFile::~ExportFile() {
  if (fd_ >= 0) _close(fd_);
}

int ExportFile::Create(const std::string& path) {
  OwnerOnlyDescriptor owner_only;
  if (owner_only.attributes() == nullptr) return LastErrno();
  // An existing file keeps its own access list, as an existing file keeps
  // its mode on POSIX; a new one is its owner's alone.
  const HANDLE file =
      CreateFileW(Utf16FromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                  owner_only.attributes(), CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrno();
  fd_ = DescriptorOf(file, _O_WRONLY);
  return fd_ >= 0 ? 0 : EMFILE;
}

int ExportFile::CreateInMemory() {
  OwnerOnlyDescriptor owner_only;
  if (owner_only.attributes() == nullptr) return LastErrno();
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return LastErrno();
  // A name of our own with CREATE_NEW (GetTempFileName would create the file
  // first, with the folder's access list); a clash tries the next name.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name =
        std::wstring(folder) + L"portwick-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
        std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++counter) + L".tmp";
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, owner_only.attributes(),
                    CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return LastErrno();
    }
    fd_ = DescriptorOf(file, _O_RDWR);
    return fd_ >= 0 ? 0 : EMFILE;
  }
  return EEXIST;
}

bool ExportFile::ReadAll(std::string* contents) const {
  contents->clear();
  const HANDLE file = HandleOf(fd_);
  LARGE_INTEGER size{};
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) return false;
  if (size.QuadPart == 0) return true;
  contents->resize(static_cast<size_t>(size.QuadPart));
  // Positioned reads, as pread: the file pointer ends at the end, where the
  // next write goes anyway.
  uint64_t done = 0;
  while (done < contents->size()) {
    const uint64_t left = contents->size() - done;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done);
    at.OffsetHigh = static_cast<DWORD>(done >> 32);
    DWORD read = 0;
    if (!ReadFile(file, contents->data() + done, chunk, &read, &at) || read == 0) {
      contents->clear();
      return false;
    }
    done += read;
  }
  return true;
}

int ExportFile::Close() {
  const HANDLE file = HandleOf(fd_);
  // Closing a handle reports nothing about the data; a flush does. Exports
  // are rare, so the disk flush is paid for the report.
  int error = 0;
  if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK &&
      !FlushFileBuffers(file)) {
    error = LastErrno();
  }
  if (fd_ < 0) return EBADF;
  if (_close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  return error;
}

}  // namespace portwick
