#include "script_arguments.h"

#include "app/command_line.h"

namespace portwick {

std::optional<ProxySettings> SettingsFromArguments(const std::vector<std::string>& args) {
  ProxySettings settings;
  if (ParseCommandLine(args, &settings, nullptr) != ParseStatus::kSuccess) return std::nullopt;
  return settings;
}

}  // namespace portwick
