#ifndef PORTWICK_APP_COMMAND_LINE_H_
#define PORTWICK_APP_COMMAND_LINE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "run/application_title.h"
#include "run/proxy_settings.h"

namespace portwick {

// The help shown for a bad command line and for the command `help`: lines
// ended by CR LF, as a message box expects, the last line empty.
extern const char kHelpText[];

// kHelpText with plain LF line ends, for printing to a terminal; its usage
// line names `program` (see ProgramName).
std::string HelpTextWithLineFeeds(std::string_view program = "portwick");

// The program's name as it was started: the last part of `path` (argv[0];
// after a '/', or a '\\' too on Windows), "portwick" when that is empty.
std::string ProgramName(std::string_view path);

// Called when the command word `help` (or `h`) asks for the help at once;
// parsing goes on when it returns.
using ShowHelp = std::function<void()>;

// kStopWithBadValue: the option is known but its value is not usable.
enum class ArgumentResult { kContinue, kStopWithFailure, kStopWithBadValue };
enum class ParseStatus { kSuccess, kFailure };

// The argument that made ParseCommandLine fail, and why.
struct ParseFailure {
  enum class Kind {
    kHelpOption,      // exactly --help or -h (any prefix, any case): asks for the help
    kUnknownOption,   // an option text that names no option, or "h..." beyond the help
    kUnknownCommand,  // a command word other than start, listen, help, h
    kBadValue,        // a known option with a value it can't use (trace, pcap, ...)
  };
  Kind kind = Kind::kUnknownOption;
  std::string argument;  // the whole argument as given, prefix included
  // For kBadValue, why the value is refused when the option says so
  // ("rate '0' lets nothing pass: ..."); may be empty.
  std::string reason;
};

// What went wrong, for a person: "unknown option '--sourc=1'", "unknown
// command 'strat'", "unusable value in '--pcap='", with the reason after a
// colon when there is one; empty for kHelpOption.
std::string ParseFailureText(const ParseFailure& failure);

// Handles one argument whose prefix ("--", "-", "/", ...) has already been
// removed. With `is_option` it is an option text such as "source=80", matched
// by case-insensitive prefix against the option names; otherwise it is a whole
// command word such as "start". `show_help` may be empty. For
// kStopWithBadValue `*reason` (when not null) may say why.
ArgumentResult ParseArgument(std::string_view text, bool is_option, ProxySettings* settings,
                             const ShowHelp& show_help, std::string* reason = nullptr);

// Parses `args` (args[0], the program path, is skipped) strictly left to right
// into `*settings`, which should hold the built-in values on entry. Stops at
// the first argument that fails; the arguments before it keep their effect.
// Shows nothing on failure: the caller shows the help. `show_help` may be
// empty. When `failure` is not null it receives the failing argument. Main
// thread; no other thread may touch `*settings` meanwhile.
ParseStatus ParseCommandLine(const std::vector<std::string>& args, ProxySettings* settings,
                             const ShowHelp& show_help, ParseFailure* failure = nullptr);

}  // namespace portwick

#endif  // PORTWICK_APP_COMMAND_LINE_H_
