#include "run/command_script.h"

#include <fcntl.h>
#include <unistd.h>

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

}  // namespace

std::string BuildCommandScript(const CommandScriptValues& values) {
  std::string text = QuotedCommand(values.program_path);
  text += " --source=" + std::to_string(values.local_port);
  if (!values.bind_address.empty()) text += " --bind=" + QuotedPart(values.bind_address);
  // The command line cuts a host at its first ':' unless it is in brackets.
  std::string host = values.remote_host;
  if (host.find(':') != std::string::npos || host.starts_with('[')) host = "[" + host + "]";
  text += " --destination=" + QuotedPart(host) + ":" + std::to_string(values.remote_port);
  const SessionLimits& limits = values.limits;
  if (limits.connect_timeout.count() != 0) {
    text += " --connect-timeout=" + DurationText(limits.connect_timeout);
  }
  if (limits.idle_timeout.count() != 0) {
    text += " --idle-timeout=" + DurationText(limits.idle_timeout);
  }
  if (limits.max_sessions != 0) text += " --max-sessions=" + std::to_string(limits.max_sessions);
  // A condition's text holds only characters a shell takes as they are.
  for (const Condition& condition : values.conditions) {
    text += " --condition=" + QuotedPart(ConditionText(condition));
  }
  text += " ";
  if (values.write_to_file) {
    text += " --filename=\"" + DoubleQuotedContent(values.log_file_name) + "\" start \n";
  }
  return text;
}

ScriptFileResult WriteCommandScript(const std::string& path, std::string_view text) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ScriptFileResult::kCannotCreate;
  bool ok = true;
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<size_t>(n);
  }
  // close() reports delayed write errors (for example on network file
  // systems); it must not be retried on EINTR, the descriptor is gone.
  if (close(fd) != 0 && errno != EINTR) ok = false;
  return ok ? ScriptFileResult::kWritten : ScriptFileResult::kWriteFailed;
}

std::string CannotCreateMessage(const std::string& path) {
  return "Cannot create \"" + path + "\" file.";
}

}  // namespace portwick
