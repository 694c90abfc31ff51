#include "bench/proc_stats.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace portwick::bench {

namespace {

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return true;
}

// Entries of a directory other than "." and "..", or -1 if it can't be read.
int CountEntries(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") ++count;
  }
  ::closedir(dir);
  return count;
}

bool IsNumber(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

long StatusFieldKib(std::string_view status, std::string_view key) {
  std::size_t at = 0;
  while (at < status.size()) {
    std::size_t end = status.find('\n', at);
    if (end == std::string_view::npos) end = status.size();
    std::string_view line = status.substr(at, end - at);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
      std::string value(line.substr(key.size() + 1));
      char* tail = nullptr;
      long kib = std::strtol(value.c_str(), &tail, 10);
      return tail != value.c_str() ? kib : -1;
    }
    at = end + 1;
  }
  return -1;
}

pid_t ParentFromStat(std::string_view stat) {
  // "pid (comm) state ppid ...": the name ends at the last ')'.
  std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return -1;
  std::istringstream fields{std::string(stat.substr(close + 1))};
  std::string state;
  long parent = -1;
  if (!(fields >> state >> parent)) return -1;
  return static_cast<pid_t>(parent);
}

std::vector<pid_t> ProcessTree(pid_t pid) {
  std::multimap<pid_t, pid_t> children;
  if (DIR* proc = ::opendir("/proc")) {
    while (dirent* entry = ::readdir(proc)) {
      if (!IsNumber(entry->d_name)) continue;
      std::string stat;
      if (!ReadFile(std::string("/proc/") + entry->d_name + "/stat", &stat)) continue;
      pid_t parent = ParentFromStat(stat);
      if (parent > 0) children.emplace(parent, static_cast<pid_t>(std::atol(entry->d_name)));
    }
    ::closedir(proc);
  }
  std::vector<pid_t> tree{pid};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    auto [first, last] = children.equal_range(tree[i]);
    for (auto it = first; it != last; ++it) tree.push_back(it->second);
  }
  return tree;
}

bool ReadProcessUsage(pid_t pid, bool with_descendants, ProcessUsage* usage) {
  *usage = ProcessUsage{};
  std::vector<pid_t> pids = with_descendants ? ProcessTree(pid) : std::vector<pid_t>{pid};
  for (pid_t each : pids) {
    std::string base = "/proc/" + std::to_string(each);
    std::string status;
    if (!ReadFile(base + "/status", &status)) {
      if (each == pid) return false;
      continue;  // a child that just ended
    }
    int threads = CountEntries(base + "/task");
    int fds = CountEntries(base + "/fd");
    if (threads < 0 || fds < 0) {
      if (each == pid) return false;
      continue;
    }
    usage->rss_kib += std::max(0L, StatusFieldKib(status, "VmRSS"));
    usage->peak_rss_kib += std::max(0L, StatusFieldKib(status, "VmHWM"));
    usage->threads += threads;
    usage->fds += fds;
    ++usage->processes;
  }
  return true;
}

bool ListensOn(std::string_view proc_net_tcp, int port) {
  std::istringstream lines{std::string(proc_net_tcp)};
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    if (!(fields >> slot >> local >> remote >> state)) continue;
    std::size_t colon = local.rfind(':');
    if (colon == std::string::npos || state != "0A") continue;
    if (std::strtol(local.c_str() + colon + 1, nullptr, 16) == port) return true;
  }
  return false;
}

bool IsPortListening(int port) {
  for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::string text;
    if (ReadFile(path, &text) && ListensOn(text, port)) return true;
  }
  return false;
}

}  // namespace portwick::bench
