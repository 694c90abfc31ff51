#include "ui/sessions/view_rules.h"

namespace portwick {

std::optional<SessionId> SessionToSelectOnShow(bool has_selection, const SessionTable& table) {
  if (has_selection || table.row_count() == 0) return std::nullopt;
  return table.SessionAt(table.row_count() - 1)->id;
}

std::string CopiedText(size_t lines, bool hex) {
  if (lines == 0) return "Copy: select lines of the conversation first";
  return "Copied " + std::to_string(lines) + (lines == 1 ? " line" : " lines") +
         (hex ? " as hex" : " as text");
}

}  // namespace portwick
