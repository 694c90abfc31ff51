#include "run/command_script.h"

#include <array>
#include <cerrno>

namespace portwick {

namespace {

// Characters that mean nothing to a POSIX shell inside a word.
bool IsPlainChar(char c, bool allow_equals) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '_':
    case '.':
    case '/':
    case ':':
    case '@':
    case '%':
    case '+':
    case ',':
    case '-':
      return true;
    case '=':
      return allow_equals;
    default:
      return false;
  }
}

bool AllPlain(std::string_view text, bool allow_equals) {
  for (char c : text) {
    if (!IsPlainChar(c, allow_equals)) return false;
  }
  return true;
}

// Wraps `text` in single quotes; an embedded single quote becomes '\''.
std::string SingleQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

// A value glued to an option text ("--destination=" + value): bare when plain.
std::string QuotedPart(std::string_view text) {
  return AllPlain(text, /*allow_equals=*/true) ? std::string(text) : SingleQuoted(text);
}

// Words the shell treats specially as the first word of a command.
bool IsReservedWord(std::string_view word) {
  constexpr std::array<std::string_view, 18> kReserved = {
      "case", "do",   "done",  "elif",  "else", "esac",     "fi",     "for",    "if",
      "in",   "then", "until", "while", "time", "function", "select", "coproc", "!"};
  for (std::string_view reserved : kReserved) {
    if (word == reserved) return true;
  }
  return false;
}

// The command word: besides the unsafe characters, an empty word, a '='
// (which would make it a variable assignment) and a reserved word need quotes.
std::string QuotedCommand(std::string_view path) {
  if (!path.empty() && AllPlain(path, /*allow_equals=*/false) && !IsReservedWord(path)) {
    return std::string(path);
  }
  return SingleQuoted(path);
}

// Escapes what stays special inside double quotes: $ ` " and backslash.
std::string DoubleQuotedContent(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '$' || c == '`' || c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// What cmd.exe and CommandLineToArgvW leave alone outside quotes.
bool IsCmdPlainChar(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '_':
    case '.':
    case ':':
    case '@':
    case '+':
    case '-':
    case '/':
    case '\\':
    case '[':
    case ']':
      return true;
    default:
      return false;
  }
}

// `text` between double quotes for a batch file: '%' doubled, and the
// backslashes that would stand before the closing quote doubled.
std::string CmdQuoted(std::string_view text) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : text) {
    backslashes = c == '\\' ? backslashes + 1 : 0;
    quoted += c;
    if (c == '%') quoted += '%';
  }
  quoted.append(backslashes, '\\');
  quoted += '"';
  return quoted;
}

std::string CmdQuotedPart(std::string_view text) {
  for (char c : text) {
    if (!IsCmdPlainChar(c)) return CmdQuoted(text);
  }
  return text.empty() ? CmdQuoted(text) : std::string(text);
}

// A '"' would end the quotes early; a line break would end the command.
bool CmdCanHold(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

// " --connect-timeout=... --idle-timeout=... --max-sessions=... --condition=..."
// for the limits that are on and every condition, values through `quoted`.
std::string LimitsAndConditions(const CommandScriptValues& values,
                                std::string (*quoted)(std::string_view)) {
  std::string text;
  const SessionLimits& limits = values.limits;
  if (limits.connect_timeout.count() != 0) {
    text += " --connect-timeout=" + DurationText(limits.connect_timeout);
  }
  if (limits.idle_timeout.count() != 0) {
    text += " --idle-timeout=" + DurationText(limits.idle_timeout);
  }
  if (limits.max_sessions != 0) text += " --max-sessions=" + std::to_string(limits.max_sessions);
  for (const Condition& condition : values.conditions) {
    text += " --condition=" + quoted(ConditionText(condition));
  }
  return text;
}

std::string BracketedHost(const std::string& host) {
  // The command line cuts a host at its first ':' unless it is in brackets.
  if (host.find(':') != std::string::npos || host.starts_with('[')) return "[" + host + "]";
  return host;
}

}  // namespace

std::string BuildCmdScript(const CommandScriptValues& values) {
  std::string text = CmdQuoted(values.program_path);
  text += " --source=" + std::to_string(values.local_port);
  if (!values.bind_address.empty()) text += " --bind=" + CmdQuotedPart(values.bind_address);
  text += " --destination=" + CmdQuotedPart(BracketedHost(values.remote_host)) + ":" +
          std::to_string(values.remote_port);
  text += LimitsAndConditions(values, CmdQuotedPart) + " ";
  if (values.write_to_file)
    text += " --filename=" + CmdQuoted(values.log_file_name) + " start \r\n";
  return text;
}

std::string CmdScriptProblem(const CommandScriptValues& values) {
  const struct {
    const char* what;
    const std::string& value;
    bool written;
  } kValues[] = {
      {"program path", values.program_path, true},
      {"bind address", values.bind_address, true},
      {"destination host", values.remote_host, true},
      {"log file name", values.log_file_name, values.write_to_file},
  };
  for (const auto& value : kValues) {
    if (value.written && !CmdCanHold(value.value)) {
      return std::string("The ") + value.what +
             " holds a double quote or a control character, which a command script for "
             "cmd.exe can't hold safely.";
    }
  }
  return {};
}

std::string BuildCommandScript(const CommandScriptValues& values) {
#if defined(_WIN32)
  return BuildCmdScript(values);
#else
  return BuildShellScript(values);
#endif
}

std::string BuildShellScript(const CommandScriptValues& values) {
  std::string text = QuotedCommand(values.program_path);
  text += " --source=" + std::to_string(values.local_port);
  if (!values.bind_address.empty()) text += " --bind=" + QuotedPart(values.bind_address);
  // The command line cuts a host at its first ':' unless it is in brackets.
  std::string host = values.remote_host;
  if (host.find(':') != std::string::npos || host.starts_with('[')) host = "[" + host + "]";
  text += " --destination=" + QuotedPart(host) + ":" + std::to_string(values.remote_port);
  // A condition's text holds only characters a shell takes as they are.
  text += LimitsAndConditions(values, QuotedPart) + " ";
  if (values.write_to_file) {
    text += " --filename=\"" + DoubleQuotedContent(values.log_file_name) + "\" start \n";
  }
  return text;
}

std::string CannotCreateMessage(const std::string& path) {
  return "Cannot create \"" + path + "\" file.";
}

}  // namespace portwick
