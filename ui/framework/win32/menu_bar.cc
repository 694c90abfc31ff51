#include "ui/framework/win32/menu_bar.h"

#include <cctype>
#include <string_view>

#include "base/windows/win32_text.h"

namespace portwick {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The virtual key of a key name: a letter or digit, or F1..F24.
std::optional<WORD> VirtualKeyOf(std::string_view key) {
  if (key.size() == 1) {
    const auto c = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(key[0])));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return WORD{c};
    return std::nullopt;
  }
  if (key.size() >= 2 && (key[0] == 'F' || key[0] == 'f')) {
    int number = 0;
    for (char c : key.substr(1)) {
      if (c < '0' || c > '9') return std::nullopt;
      number = number * 10 + (c - '0');
    }
    if (number >= 1 && number <= 24) return static_cast<WORD>(VK_F1 + number - 1);
  }
  return std::nullopt;
}

}  // namespace

std::string MenuTitleWithMnemonic(const char* title) {
  std::string text = title != nullptr ? title : "";
  if (text.find('&') == std::string::npos && !text.empty()) text.insert(0, 1, '&');
  return text;
}

std::optional<ACCEL> AcceleratorOf(const char* shortcut, int command_id) {
  if (shortcut == nullptr) return std::nullopt;
  std::string_view rest = shortcut;
  BYTE flags = FVIRTKEY;
  for (;;) {
    const size_t plus = rest.find('+');
    if (plus == std::string_view::npos || plus + 1 == rest.size()) break;
    const std::string_view modifier = rest.substr(0, plus);
    if (EqualsIgnoringCase(modifier, "Ctrl")) {
      flags |= FCONTROL;
    } else if (EqualsIgnoringCase(modifier, "Shift")) {
      flags |= FSHIFT;
    } else if (EqualsIgnoringCase(modifier, "Alt")) {
      flags |= FALT;
    } else {
      return std::nullopt;
    }
    rest.remove_prefix(plus + 1);
  }
  const std::optional<WORD> key = VirtualKeyOf(rest);
  if (!key) return std::nullopt;
  return ACCEL{flags, *key, static_cast<WORD>(command_id)};
}

MenuBar::MenuBar(std::span<const MenuTemplate> menus) {
  menu_ = CreateMenu();
  std::vector<ACCEL> table;
  for (const MenuTemplate& menu : menus) {
    HMENU popup = CreatePopupMenu();
    for (const MenuItemTemplate& item : menu.items) {
      if (item.text == nullptr) {
        AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      std::string text = item.text;
      if (item.shortcut != nullptr) text += std::string("\t") + item.shortcut;
      AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(item.command_id),
                  Utf16FromUtf8(text).c_str());
      if (std::optional<ACCEL> accel = AcceleratorOf(item.shortcut, item.command_id)) {
        table.push_back(*accel);
      }
    }
    // The popup now belongs to the bar.
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup),
                Utf16FromUtf8(MenuTitleWithMnemonic(menu.title)).c_str());
  }
  if (!table.empty()) {
    accelerators_ = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
  }
}

MenuBar::~MenuBar() {
  if (!attached_ && menu_ != nullptr) DestroyMenu(menu_);
  if (accelerators_ != nullptr) DestroyAcceleratorTable(accelerators_);
}

bool MenuBar::AttachTo(HWND window) {
  if (attached_ || SetMenu(window, menu_) == 0) return false;
  attached_ = true;
  return true;
}

}  // namespace portwick
