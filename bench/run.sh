#!/usr/bin/env bash
# Forwarding benchmark: builds Portwick and the load tools in Release mode
# (build/bench), measures the direct connection, Portwick (console mode) and,
# when installed, socat and haproxy on 127.0.0.1, and prints the tables.
# See bench/README.md for what each figure means.
#
#   bench/run.sh [--reps=3] [--mib=1024] [--big-log-gib=4 | --no-big-log]
#                [--quick] [--no-build] [--no-gui] [--keep-results=FILE]
#                [--before=PATH]   (an earlier portwick build, for its unlogged figure)
#                [--only=logging]  (client->server bulk rows, the logging modes, idle
#                                   logged sessions and the storage's append rate)
#                [--only=exchanges]  (short connections and small request/reply alone)
#                [--only=conditions | --no-conditions]  (the traffic conditions' figures)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench"
reps=3
mib=1024            # bulk transfer per run, all connections together
big_log_gib=4       # transfer logged to a file for the peak-RSS check (0: skip)
sessions=1000       # idle sessions for the memory figure
many_sessions=10000 # ... and again with this many (0: skip)
rate_seconds=1.5    # per connection-rate run (and per request/reply run)
exchange_size=64    # bytes per request and per reply
ping_iterations=20000
ping_seconds=2
do_build=1
do_gui=1
keep_results=""
quick=0
reps_given=0
before=""
only=""            # "logging": client->server bulk rows and the logging modes only;
                   # "conditions": the traffic conditions' figures only;
                   # "exchanges": short connections and small request/reply only
do_conditions=1

for arg in "$@"; do
  case "$arg" in
    --reps=*) reps="${arg#*=}"; reps_given=1 ;;
    --mib=*) mib="${arg#*=}" ;;
    --big-log-gib=*) big_log_gib="${arg#*=}" ;;
    --no-big-log) big_log_gib=0 ;;
    --quick) mib=256; big_log_gib=0; rate_seconds=1; ping_iterations=5000; quick=1 ;;
    --no-build) do_build=0 ;;
    --no-gui) do_gui=0 ;;
    --keep-results=*) keep_results="${arg#*=}" ;;
    --before=*) before="${arg#*=}" ;;
    --only=logging) only=logging; big_log_gib=0; do_conditions=0 ;;
    --only=conditions) only=conditions; big_log_gib=0; do_gui=0 ;;
    --only=exchanges) only=exchanges; big_log_gib=0; do_gui=0; do_conditions=0 ;;
    --no-conditions) do_conditions=0 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done
# Quick: one repetition (unless --reps says otherwise), no window bench and
# no 10,000-session figure; for development, never the figure of record.
if [ "$quick" = 1 ]; then
  [ "$reps_given" = 1 ] || reps=1
  do_gui=0
  many_sessions=0
fi
[ "$reps" -ge 1 ] || { echo "run.sh: --reps must be at least 1" >&2; exit 2; }

started_at=$SECONDS
note() { printf '[%4ds] %s\n' $((SECONDS - started_at)) "$*" >&2; }

# --- build -----------------------------------------------------------------
# The benchmark peers (socat, haproxy) come with the bench package group.
"$root/scripts/setup.sh" run bench
if [ "$do_build" = 1 ]; then
  note "building (Release) in $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DPORTWICK_BUILD_BENCH=ON -DPORTWICK_SANITIZE= >/dev/null
  cmake --build "$build" -j 2 --target portwick_bench_server portwick_bench_client \
    portwick_bench_report >/dev/null
  if ! cmake --build "$build" -j 2 --target portwick >"$build/portwick-build.log" 2>&1; then
    note "portwick did not build (see $build/portwick-build.log); measuring the others only"
  fi
  if ! cmake --build "$build" -j 2 --target portwick_gui_bench >"$build/gui-build.log" 2>&1; then
    note "the GUI bench did not build (see $build/gui-build.log); skipping it"
  fi
fi
tools="$build/bench"
client="$tools/portwick_bench_client"
portwick="$build/app/portwick"
for tool in portwick_bench_server portwick_bench_client portwick_bench_report; do
  [ -x "$tools/$tool" ] || { echo "run.sh: $tools/$tool missing (build first)" >&2; exit 1; }
done

# 10,000 idle sessions take 20,000 descriptors in a forwarder (and 10,000 in
# the client and in the server): raise the hard limit where allowed (root).
{ [ "$(ulimit -Hn)" != unlimited ] && [ "$(ulimit -Hn)" -lt 65536 ] && ulimit -Hn 65536; } 2>/dev/null || true
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
# Where the hard limit stays lower (no right to raise it), as many sessions as
# fit: two descriptors each, and a few for the process itself.
if [ "$many_sessions" != 0 ] && [ "$(ulimit -Hn)" != unlimited ]; then
  fit=$((($(ulimit -Hn) - 64) / 2))
  if [ "$fit" -lt "$many_sessions" ]; then
    note "descriptor hard limit $(ulimit -Hn): $fit instead of $many_sessions idle sessions"
    many_sessions=$fit
  fi
fi
# haproxy keeps at most maxconn sessions and sets its own descriptor limit
# from it (2 per session and a few), which must stay within the hard limit.
haproxy_maxconn=$((many_sessions > 4080 ? many_sessions + 16 : 4096))

# --- process bookkeeping: everything started here is ended on exit -----------
work="$(mktemp -d /tmp/portwick-bench.XXXXXX)"
results="$work/results.txt"
: >"$results"
pids=()

descendants() {  # pid -> its children, grandchildren, ... (by id)
  local child
  for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
    echo "$child"
    descendants "$child"
  done
}

stop_process() {  # pid: SIGTERM to it and its descendants, wait up to 5 s, then SIGKILL
  local pid="$1" all i
  all="$pid $(descendants "$pid" | tr '\n' ' ')"
  kill -TERM $all 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL $all 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  local pid
  for pid in "${pids[@]}"; do stop_process "$pid"; done
  [ -n "$keep_results" ] && cp "$results" "$keep_results" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for_line() {  # file, sed expression printing the wanted value, seconds
  local file="$1" expr="$2" value i
  for ((i = 0; i < $3 * 20; i++)); do
    value="$(sed -n "$expr" "$file" 2>/dev/null | head -n 1)"
    [ -n "$value" ] && { echo "$value"; return 0; }
    sleep 0.05
  done
  return 1
}

# --- the load server ---------------------------------------------------------
"$tools/portwick_bench_server" >"$work/server.out" &
server_pid=$!
pids+=("$server_pid")
server_port="$(wait_for_line "$work/server.out" 's/^listening \([0-9]*\)$/\1/p' 10)" ||
  { echo "run.sh: load server did not start" >&2; exit 1; }

# --- forwarders ----------------------------------------------------------------
# start_NAME NAME ARGS... starts one instance and sets $started_pid and
# $started_port; it returns non-zero if the instance did not come up.
start_portwick() {  # extra options...; stdout of the instance goes to $portwick_stdout
  local err="$work/portwick.$RANDOM.err"
  "$portwick" --console --source=0 --destination="127.0.0.1:$server_port" "$@" \
    >"${portwick_stdout:-/dev/null}" 2>"$err" &
  started_pid=$!
  pids+=("$started_pid")
  started_port="$(wait_for_line "$err" 's/^Portwick: forwarding \*:\([0-9]*\) .*/\1/p' 10)" || {
    note "portwick did not start: $(cat "$err")"
    return 1
  }
}

start_socat() {
  started_port="$("$client" freeport)"
  socat "TCP-LISTEN:$started_port,fork,reuseaddr" "TCP:127.0.0.1:$server_port" 2>"$work/socat.err" &
  started_pid=$!
  pids+=("$started_pid")
  "$client" waitlisten --port="$started_port" --seconds=10
}

haproxy_bin="$(command -v haproxy || true)"
[ -z "$haproxy_bin" ] && [ -x /usr/sbin/haproxy ] && haproxy_bin=/usr/sbin/haproxy

start_haproxy() {
  started_port="$("$client" freeport)"
  local config="$work/haproxy.$started_port.cfg"
  # Two threads for two cores; maxconn above the idle sessions; long timeouts.
  cat >"$config" <<EOF
global
  nbthread 2
  maxconn $haproxy_maxconn
defaults
  mode tcp
  maxconn $haproxy_maxconn
  timeout connect 10s
  timeout client 1h
  timeout server 1h
frontend bench
  bind 127.0.0.1:$started_port
  default_backend load
backend load
  server load 127.0.0.1:$server_port
EOF
  "$haproxy_bin" -db -f "$config" >"$work/haproxy.out" 2>&1 &
  started_pid=$!
  pids+=("$started_pid")
  "$client" waitlisten --port="$started_port" --seconds=10
}

forget_pid() {  # pid: stop it now and drop it from the exit list
  local pid="$1" kept=() each
  stop_process "$pid"
  for each in "${pids[@]}"; do [ "$each" != "$pid" ] && kept+=("$each"); done
  pids=("${kept[@]}")
}

targets=(direct)
declare -A port pid
port[direct]="$server_port"
if [ -x "$portwick" ]; then
  if start_portwick --output=off; then
    targets+=(portwick); port[portwick]="$started_port"; pid[portwick]="$started_pid"
  fi
else
  note "no portwick executable at $portwick"
fi
if command -v socat >/dev/null; then
  if start_socat; then targets+=(socat); port[socat]="$started_port"; pid[socat]="$started_pid"; fi
else
  note "socat not installed: skipped"
fi
if [ -n "$haproxy_bin" ]; then
  if start_haproxy; then targets+=(haproxy); port[haproxy]="$started_port"; pid[haproxy]="$started_pid"; fi
else
  note "haproxy not installed: skipped"
fi
forwarders=("${targets[@]:1}")
note "measuring: ${targets[*]} (server on $server_port; ${mib} MiB per bulk run, $reps repetitions)"

# measure METRIC TARGET command...: runs a client command and records its one
# figure; a failed run is reported and leaves no figure.
measure() {
  local metric="$1" target="$2" value
  shift 2
  if value="$("$@" 2>>"$work/client.err")"; then
    echo "$metric $target $value" >>"$results"
  else
    note "FAILED $metric on $target: $(tail -n 1 "$work/client.err")"
  fi
}

# measure_two FIRST SECOND TARGET command...: records the two figures the
# command prints as metrics FIRST and SECOND.
measure_two() {
  local first="$1" second="$2" target="$3" values one two
  shift 3
  if values="$("$@" 2>>"$work/client.err")"; then
    read -r one two <<<"$values"
    echo "$first $target $one" >>"$results"
    echo "$second $target $two" >>"$results"
  else
    note "FAILED $first on $target: $(tail -n 1 "$work/client.err")"
  fi
}

usage_of() { "$client" usage --pid="$1" --tree; }  # rss peak threads fds processes

# Idle thread and descriptor counts before any connection.
declare -A threads_before fds_before
for t in "${forwarders[@]}"; do
  read -r _ _ threads_before[$t] fds_before[$t] _ <<<"$(usage_of "${pid[$t]}")"
  echo "threads_before $t ${threads_before[$t]}" >>"$results"
  echo "fds_before $t ${fds_before[$t]}" >>"$results"
done

# --- throughput, latency, connection rate (repetitions interleaved) ----------
for ((rep = 1; rep <= reps; rep++)); do
  [ "$only" = conditions ] && break
  [ "$only" = exchanges ] || note "repetition $rep/$reps: bulk transfers"
  for t in "${targets[@]}"; do
    [ "$only" = exchanges ] && break
    [ "$only" = logging ] && [ "$t" = socat ] && continue
    for n in 1 8; do
      measure "up$n" "$t" "$client" upload --port="${port[$t]}" --connections=$n --mib="$mib"
      [ "$only" = logging ] && continue
      measure "down$n" "$t" "$client" download --port="${port[$t]}" --connections=$n --mib="$mib"
    done
  done
  [ "$only" = logging ] && continue
  note "repetition $rep/$reps: ping-pong, short connections, request/reply"
  for t in "${targets[@]}"; do
    [ "$only" = exchanges ] ||
      measure_two pp_p50 pp_p99 "$t" "$client" pingpong --port="${port[$t]}" \
        --iterations="$ping_iterations" --seconds="$ping_seconds"
    for n in 1 8; do
      measure_two "cps$n" "slow$n" "$t" "$client" connrate --port="${port[$t]}" --clients=$n --seconds="$rate_seconds"
    done
    for n in 8 64; do
      measure_two "rr${n}_rps" "rr${n}_p99" "$t" "$client" exchanges --port="${port[$t]}" \
        --connections=$n --size="$exchange_size" --seconds="$rate_seconds"
    done
  done
  [ "$only" = exchanges ] && continue
  note "repetition $rep/$reps: ping-pong with everything on CPU 0"
  all_cpus="0-$(($(nproc) - 1))"
  for t in "${targets[@]}"; do
    pinned=("$server_pid")
    [ "$t" != direct ] && pinned+=("${pid[$t]}")
    for p in "${pinned[@]}"; do taskset -a -p -c 0 "$p" >/dev/null; done
    measure_two pin_p50 pin_p99 "$t" taskset -c 0 "$client" pingpong --port="${port[$t]}" \
      --iterations="$ping_iterations" --seconds="$ping_seconds"
    for p in "${pinned[@]}"; do taskset -a -p -c "$all_cpus" "$p" >/dev/null; done
  done
done

# --- leak check: back at idle? ---------------------------------------------------
[ -n "$only" ] && forwarders_idle=() || forwarders_idle=("${forwarders[@]}")
[ -n "$only" ] || note "waiting for the forwarders to return to idle"
for t in "${forwarders_idle[@]}"; do
  read -r threads fds <<<"$("$client" settle --pid="${pid[$t]}" --tree --seconds=10 \
    --threads="${threads_before[$t]}" --fds="${fds_before[$t]}")"
  echo "threads_after $t $threads" >>"$results"
  echo "fds_after $t $fds" >>"$results"
done

# --- resident memory per idle session (a fresh instance per repetition) ------
for ((rep = 1; rep <= reps; rep++)); do
  [ -n "$only" ] && break
  note "repetition $rep/$reps: $sessions idle sessions"
  for t in "${forwarders[@]}"; do
    if [ "$t" = portwick ]; then start_portwick --output=off || continue; else "start_$t" || continue; fi
    measure idle_kib "$t" "$client" idle --port="$started_port" --pid="$started_pid" --tree \
      --sessions="$sessions"
    forget_pid "$started_pid"
  done
done

# ... and once with many more (socat, a process per session, is left out).
if [ "$many_sessions" != 0 ] && [ -z "$only" ]; then
  note "$many_sessions idle sessions"
  for t in "${forwarders[@]}"; do
    [ "$t" = socat ] && continue
    if [ "$t" = portwick ]; then start_portwick --output=off || continue; else "start_$t" || continue; fi
    measure idle10k_kib "$t" "$client" idle --port="$started_port" --pid="$started_pid" --tree \
      --sessions="$many_sessions"
    forget_pid "$started_pid"
  done
fi

# --- Portwick's logging modes ------------------------------------------------------
wait_for_size() {  # file, bytes, seconds: until the log holds that many bytes
  local i
  for ((i = 0; i < $3 * 20; i++)); do
    [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge "$2" ] && return 0
    sleep 0.05
  done
  note "log $1 stayed below $2 bytes"
  return 1
}

if [[ " ${targets[*]} " == *" portwick "* ]] && [ "$only" != conditions ] && [ "$only" != exchanges ]; then
  bytes=$((mib * 1024 * 1024))
  # Console mode keeps no capture store (--capture-limit=0 only says so); the
  # window's capture store is measured by the GUI bench below. The session
  # outputs are measured against the same unlogged instance.
  declare -A log_port log_file
  if start_portwick --output=off --capture-limit=0; then log_port[log_off]="$started_port"; fi
  if [ -n "$before" ]; then
    if portwick="$before" start_portwick --output=off; then log_port[log_before]="$started_port"; fi
  fi
  if start_portwick --output=off --capture-limit=0 --filename="$work/queued.log"; then
    log_port[log_file]="$started_port"; log_file[log_file]="$work/queued.log"
  fi
  if start_portwick --output=off --capture-limit=0 --filename="$work/synch.log" --synch; then
    log_port[log_synch]="$started_port"; log_file[log_synch]="$work/synch.log"
  fi
  # stdout is /dev/null for these two
  if start_portwick --capture-limit=0; then log_port[log_stdout]="$started_port"; fi
  if start_portwick --capture-limit=0 --trace=hex; then log_port[log_trace]="$started_port"; fi
  # Memory the machine has not touched yet can be far slower to fill than
  # memory used before (a virtual machine whose memory the host backs only
  # when first touched wrote about 5 times slower): fill and free some page
  # cache once, unmeasured, so the file rows measure the logging.
  "$client" appendfile --path="$work/warmup.log" --mib=$((2 * mib)) >/dev/null 2>&1 || true
  rm -f "$work/warmup.log"
  for ((rep = 1; rep <= reps; rep++)); do
    note "repetition $rep/$reps: logging modes"
    modes=(log_off log_before log_file log_synch log_stdout log_trace log_off8 log_file8)
    [ "$only" = logging ] && modes=(log_off log_before log_file log_off8 log_file8)
    for mode in "${modes[@]}"; do
      base="${mode%8}"  # the 8-connection rows use the same instances
      connections=1
      [ "$base" != "$mode" ] && connections=8
      [ -n "${log_port[$base]:-}" ] || continue
      measure "$mode" portwick "$client" upload --port="${log_port[$base]}" \
        --connections="$connections" --mib="$mib"
      if [ -n "${log_file[$base]:-}" ]; then
        wait_for_size "${log_file[$base]}" "$bytes" 120 || true
        # Emptied, not removed: the instance keeps its log open (appending).
        : >"${log_file[$base]}"
      fi
    done
    # Idle logged sessions, a fresh instance each time: memory and threads.
    if start_portwick --output=off --capture-limit=0 --filename="$work/idle.log"; then
      measure_two log_idle_kib log_idle_threads portwick "$client" idle --port="$started_port" \
        --pid="$started_pid" --tree --sessions="$sessions" --threads
      forget_pid "$started_pid"
      rm -f "$work/idle.log"
    fi
    # The storage's sustained append rate in the log folder, synced to the
    # disk: what the file rows are judged against (twice --mib, 1 MiB writes).
    dd_mib=$((2 * mib))
    if dd_out="$(dd if=/dev/zero of="$work/dd.bin" bs=1M count="$dd_mib" conv=fdatasync 2>&1)"; then
      dd_seconds="$(sed -n 's/.* copied, \([0-9.]*\) s,.*/\1/p' <<<"$dd_out")"
      [ -n "$dd_seconds" ] && echo "log_dd portwick $(awk -v m="$dd_mib" -v s="$dd_seconds" \
        'BEGIN { printf "%.1f", m / s }')" >>"$results"
    else
      note "FAILED dd: $(tail -n 1 <<<"$dd_out")"
    fi
    rm -f "$work/dd.bin"
    [ "$only" = logging ] && continue
    # A pcapng file, a fresh instance each time: its stop writes out what is
    # queued and the file can go.
    if start_portwick --output=off --pcap="$work/run.pcapng"; then
      measure log_pcap portwick "$client" upload --port="$started_port" --mib="$mib"
      forget_pid "$started_pid"
      rm -f "$work/run.pcapng"
    fi
    # What the log folder itself takes, for judging the file figures.
    measure log_disk portwick "$client" appendfile --path="$work/plain.log" --mib="$mib"
    rm -f "$work/plain.log"
  done

  if [ "$big_log_gib" != 0 ]; then
    note "logging a ${big_log_gib} GiB transfer to a file (queued)"
    if start_portwick --output=off --capture-limit=0 --filename="$work/big.log"; then
      big_started=$SECONDS
      if "$client" upload --port="$started_port" --mib=$((big_log_gib * 1024)) \
        >/dev/null 2>>"$work/client.err"; then
        wait_for_size "$work/big.log" $((big_log_gib * 1024 * 1024 * 1024)) 300 || true
        read -r _ peak _ <<<"$(usage_of "$started_pid")"  # the drain may peak later
        echo "log_peak_mib portwick $((peak / 1024))" >>"$results"
        echo "log_peak_seconds portwick $((SECONDS - big_started))" >>"$results"
        echo "log_peak_gib portwick $big_log_gib" >>"$results"
      else
        note "FAILED big logged transfer: $(tail -n 1 "$work/client.err")"
      fi
      forget_pid "$started_pid"
      rm -f "$work/big.log"
    fi
  fi
fi

# --- traffic conditions ----------------------------------------------------------------
# Each figure through an instance with the condition, against the same load
# server; see bench/README.md for how each is taken.
start_portwick_forwards() {  # forward options...: sets $started_pid, $started_port, $started_port2
  local err="$work/portwick.$RANDOM.err"
  "$portwick" --console --output=off "$@" >/dev/null 2>"$err" &
  started_pid=$!
  pids+=("$started_pid")
  started_port="$(wait_for_line "$err" 's/^Portwick: forward 1: forwarding \*:\([0-9]*\) .*/\1/p' 10)" &&
    started_port2="$(wait_for_line "$err" 's/^Portwick: forward 2: forwarding \*:\([0-9]*\) .*/\1/p' 10)" || {
    note "portwick did not start: $(cat "$err")"
    return 1
  }
}

# measure_fields TARGET "METRIC..." command...: records the command's
# whitespace-separated figures as the metrics named ("-" skips one).
measure_fields() {
  local target="$1" metrics=($2) values i
  shift 2
  if values=($("$@" 2>>"$work/client.err")); then
    for i in "${!metrics[@]}"; do
      [ "${metrics[$i]}" = - ] || echo "${metrics[$i]} $target ${values[$i]}" >>"$results"
    done
  else
    note "FAILED ${metrics[0]}: $(tail -n 1 "$work/client.err")"
  fi
}

if [ "$do_conditions" = 1 ] && [ -x "$portwick" ]; then
  cond_ok=1
  start_portwick --output=off || cond_ok=0; plain_port="$started_port"
  start_portwick --output=off --condition=up:delay=50ms || cond_ok=0; delay_port="$started_port"
  start_portwick --output=off --condition=up:rate=1M || cond_ok=0; rate1_port="$started_port"
  start_portwick --output=off --condition=up:rate=100M || cond_ok=0; rate100_port="$started_port"
  start_portwick --output=off --condition=down:slice=1 || cond_ok=0; slice_port="$started_port"
  start_portwick --output=off --condition=down:cut=4096,end=reset || cond_ok=0; cut_port="$started_port"
  # A destination that drops SYNs: a listener whose accept queue is full.
  "$client" stalledlistener --seconds=3600 >"$work/stalled.out" 2>>"$work/client.err" &
  pids+=("$!")
  stalled_port="$(wait_for_line "$work/stalled.out" 's/^listening \([0-9]*\)$/\1/p' 10)" || cond_ok=0
  start_portwick --output=off --destination="127.0.0.1:${stalled_port:-1}" --connect-timeout=2s ||
    cond_ok=0
  timeout_port="$started_port"
  # Unconditioned sessions on forward 1, conditioned ones on forward 2.
  start_portwick_forwards --forward="0:127.0.0.1:$server_port" \
    --forward="0:127.0.0.1:$server_port" --condition=both:delay=20ms,jitter=5ms \
    --condition=up:rate=2M || cond_ok=0
  beside_port="$started_port"; conditioned_port="$started_port2"
  [ "$cond_ok" = 1 ] || note "an instance for the conditions did not start; their figures may be missing"
  for ((rep = 1; rep <= reps; rep++)); do
    note "repetition $rep/$reps: traffic conditions"
    measure_fields portwick "cond_delay_p50 cond_delay_p99" "$client" addedlatency \
      --port="$delay_port" --baseline-port="$plain_port" --iterations=200 --seconds=20
    measure cond_rate1 portwick "$client" upload --port="$rate1_port" --mib=10
    measure cond_rate100 portwick "$client" upload --port="$rate100_port" --mib=1000
    measure_fields portwick "- cond_slice_reads - cond_slice_segments" "$client" counted \
      --port="$slice_port" --bytes=65536
    if values=($("$client" counted --port="$cut_port" --bytes=1048576 2>>"$work/client.err")); then
      echo "cond_cut_bytes portwick ${values[0]}" >>"$results"
      echo "cond_cut_reset portwick $([ "${values[4]}" = reset ] && echo 1 || echo 0)" >>"$results"
    fi
    measure cond_connect_s portwick "$client" closetime --port="$timeout_port" --seconds=10
    # Bulk on the unconditioned forward while 4 conditioned uploads run on
    # the other (8 MiB each at 2 MiB/s, about 4 s), against the same bulk
    # through an instance with no conditions at all.
    measure cond_plain_up1 portwick "$client" upload --port="$plain_port" --mib="$mib"
    background=()
    for ((i = 0; i < 4; i++)); do
      "$client" upload --port="$conditioned_port" --mib=8 >/dev/null 2>>"$work/client.err" &
      background+=("$!")
    done
    sleep 0.5
    measure cond_beside_up1 portwick "$client" upload --port="$beside_port" --mib="$mib"
    for p in "${background[@]}"; do wait "$p" || note "a conditioned background upload failed"; done
  done
  # The ratio of the medians, as one figure with its band.
  awk '$1 == "cond_plain_up1" { p[++np] = $3 } $1 == "cond_beside_up1" { b[++nb] = $3 }
       function median(a, n,   i, j, t) {
         for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
         return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
       }
       END { if (np && nb) printf "cond_beside portwick %.3f\n", median(b, nb) / median(p, np) }' \
    "$results" >>"$results.beside" && cat "$results.beside" >>"$results"
fi

# --- the main window under load -----------------------------------------------------
# The window runs offscreen: Qt's offscreen platform paints into memory as a
# desktop would, so the GUI thread does the same work without a display.
gui_bench="$build/bench/portwick_gui_bench"
gui_out="$work/gui.txt"
if [ "$do_gui" = 1 ] && [ -x "$gui_bench" ]; then
  note "the main window relaying ${mib} MiB per transfer (offscreen)"
  QT_QPA_PLATFORM=offscreen "$gui_bench" --port="$server_port" --mib="$mib" \
    >"$gui_out" 2>>"$work/client.err" ||
    note "FAILED GUI bench: $(tail -n 1 "$work/client.err")"
  # Peak memory of a big transfer, each in a fresh window process: with the
  # capture store alone (console mode keeps none), and with everything shown.
  if [ "$big_log_gib" != 0 ]; then
    for shown in nothing everything; do
      note "the main window relaying ${big_log_gib} GiB, $shown shown (fresh process)"
      QT_QPA_PLATFORM=offscreen "$gui_bench" --port="$server_port" --rss-only \
        --rss-gib="$big_log_gib" --rss-shown="$shown" 2>>"$work/client.err" |
        grep ' GiB with ' >>"$gui_out" ||
        note "FAILED GUI bench ($shown shown): $(tail -n 1 "$work/client.err")"
    done
  fi
fi

# --- report ---------------------------------------------------------------------
note "done"
echo
echo "Portwick forwarding benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), commit" \
  "$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?'), $(nproc) CPUs," \
  "load average at the end $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "$reps repetitions; $mib MiB per bulk run; $sessions idle sessions" \
  "$([ "$many_sessions" != 0 ] && echo "(and $many_sessions once)");" \
  "run took $((SECONDS - started_at)) s"
echo
"$tools/portwick_bench_report" "$results"
if [ -s "$gui_out" ]; then
  echo
  cat "$gui_out"
fi
