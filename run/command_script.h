#ifndef PORTWICK_RUN_COMMAND_SCRIPT_H_
#define PORTWICK_RUN_COMMAND_SCRIPT_H_

#include <string>
#include <string_view>
#include <vector>

#include "engine/conditions/condition.h"
#include "engine/conditions/session_limits.h"

namespace portwick {

// The values a command script restores: what the main window shows when the
// user saves it.
struct CommandScriptValues {
  std::string program_path;  // argv[0] as the process received it
  int local_port = 0;
  std::string bind_address;  // written only when not empty
  std::string remote_host;
  int remote_port = 0;
  bool write_to_file = false;
  std::string log_file_name;  // written only when write_to_file is set
  SessionLimits limits;       // each written only when on
  std::vector<Condition> conditions;
};

// Builds the one-line script that starts the program again with `values`:
//   <program> --source=<port> [--bind=<address>] --destination=<host>:<port>
//     [--connect-timeout=<d>] [--idle-timeout=<d>] [--max-sessions=<n>]
//     [--condition=<condition>]... <SP>
// and, when writing to a file,
//   <SP>--filename="<name>" start <SP><LF>
// --bind is written only for a bind address other than the default. A host
// that holds ':' (an IPv6 literal) or begins with '[' is written in brackets,
// "[::1]:2007", so the command line reads it back whole.
// Values that hold only harmless characters are written as they are; others
// are quoted for a POSIX shell, so that `sh script` passes every value through
// unchanged and runs nothing but the program.
std::string BuildShellScript(const CommandScriptValues& values);

// The same script as a cmd.exe batch file (.cmd), for Windows: the same
// words, with the program always in double quotes, and CR LF where the line
// ends (only when writing to a file, as above). A value that holds anything
// but letters, digits and _ . : @ + - / \ [ ] is written inside "...",
// where cmd.exe takes & | < > ^ ( ) as text; '%' is doubled ("%%"), as a
// batch file wants even inside quotes, and backslashes just before a
// closing quote are doubled, so that the program's argument splitter
// (CommandLineToArgvW) doesn't read \" as a quote. A '"' or a control
// character can't be held safely inside quotes: CmdScriptProblem reports
// such a value, and BuildCmdScript must not be given it. Bytes above 0x7F
// are written as they are (UTF-8); cmd.exe reads them in the console's code
// page.
std::string BuildCmdScript(const CommandScriptValues& values);

// Empty when every value can go into a .cmd file; otherwise the message
// that names the value that can't, for the user.
std::string CmdScriptProblem(const CommandScriptValues& values);

// The script for the system the program runs on: BuildCmdScript on
// Windows, BuildShellScript elsewhere.
std::string BuildCommandScript(const CommandScriptValues& values);

enum class ScriptFileResult {
  kWritten,
  kCannotCreate,  // the file could not be created or opened for writing
  kWriteFailed,   // created, but the text could not be written in full
};

// Creates (or truncates) the file at `path`, writes all of `text` and closes
// it. Any thread; the caller keeps `path` from being written concurrently.
ScriptFileResult WriteCommandScript(const std::string& path, std::string_view text);

// The message shown when the script file can't be created:
// Cannot create "<path>" file.
std::string CannotCreateMessage(const std::string& path);

}  // namespace portwick

#endif  // PORTWICK_RUN_COMMAND_SCRIPT_H_
