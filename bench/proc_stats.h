#ifndef PORTWICK_BENCH_PROC_STATS_H_
#define PORTWICK_BENCH_PROC_STATS_H_

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace portwick::bench {

// What a process, or a process with all its descendants, holds right now,
// read from /proc. Sums over the tree for forwarders that fork per session;
// a shared page is then counted once per process holding it.
struct ProcessUsage {
  long rss_kib = 0;       // VmRSS
  long peak_rss_kib = 0;  // VmHWM
  int threads = 0;        // entries of /proc/PID/task
  int fds = 0;            // entries of /proc/PID/fd
  int processes = 0;
};

// False when `pid` does not exist (any more). Any thread may call these.
bool ReadProcessUsage(pid_t pid, bool with_descendants, ProcessUsage* usage);

// `pid` followed by all its descendants (found through the parent field of
// every /proc/N/stat).
std::vector<pid_t> ProcessTree(pid_t pid);

// The value in kB of a "Key:  123 kB" line of /proc/PID/status text, or -1.
long StatusFieldKib(std::string_view status, std::string_view key);

// The parent pid in the text of /proc/N/stat, or -1. The command name in
// parentheses may itself hold spaces and parentheses.
pid_t ParentFromStat(std::string_view stat);

// Whether /proc/net/tcp text lists a socket in LISTEN state on `port`.
bool ListensOn(std::string_view proc_net_tcp, int port);

// Whether any local TCP socket (IPv4 or IPv6) listens on `port` now.
bool IsPortListening(int port);

}  // namespace portwick::bench

#endif  // PORTWICK_BENCH_PROC_STATS_H_
