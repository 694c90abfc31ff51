#ifndef PORTWICK_TESTS_UI_SCRIPT_ARGUMENTS_H_
#define PORTWICK_TESTS_UI_SCRIPT_ARGUMENTS_H_

#include <optional>
#include <string>
#include <vector>

#include "run/proxy_settings.h"

namespace portwick {

// The settings a program started with `args` (args[0] its path) would get;
// nullopt when the command line is refused.
std::optional<ProxySettings> SettingsFromArguments(const std::vector<std::string>& args);

}  // namespace portwick

#endif  // PORTWICK_TESTS_UI_SCRIPT_ARGUMENTS_H_
