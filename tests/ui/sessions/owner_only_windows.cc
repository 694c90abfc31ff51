#include <aclapi.h>
#include <windows.h>

#include <memory>

#include "base/windows/win32_text.h"
#include "owner_only.h"

namespace portwick::testing {

namespace {

// The SID of the user this process runs as, in a buffer that holds it.
std::unique_ptr<BYTE[]> CurrentUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  auto user = std::make_unique<BYTE[]>(size);
  const bool ok = GetTokenInformation(token, TokenUser, user.get(), size, &size);
  CloseHandle(token);
  return ok ? std::move(user) : nullptr;
}

}  // namespace

::testing::AssertionResult OwnerOnly(const std::string& path) {
  const std::unique_ptr<BYTE[]> user = CurrentUser();
  if (!user) return ::testing::AssertionFailure() << "no user SID";
  const PSID user_sid = reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring wide = Utf16FromUtf8(path);
  const DWORD error = GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    return ::testing::AssertionFailure() << "GetNamedSecurityInfo " << path << ": " << error;
  }
  std::unique_ptr<void, decltype(&LocalFree)> owned(descriptor, &LocalFree);
  if (dacl == nullptr) return ::testing::AssertionFailure() << path << " has no access list";
  if (dacl->AceCount == 0) return ::testing::AssertionFailure() << path << ": no one may open it";
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return ::testing::AssertionFailure() << "GetAce " << i;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;  // denials keep others out
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    // The system itself may keep its way in (Wine's list for mode 0600 has
    // it); an entry inherited from the folder or for any group may not.
    if (!EqualSid(sid, user_sid) && !IsWellKnownSid(sid, WinLocalSystemSid)) {
      return ::testing::AssertionFailure() << path << " lets entry " << i << " (another SID) in";
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace portwick::testing
