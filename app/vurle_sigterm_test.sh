#!/usr/bin/env bash
# Signals stop the program at any point. Started on a fresh settings folder
# and waited for (bounded) until it says it runs, SIGTERM stops it cleanly
# with its settings written, and at once while its renderer still compiles:
# the library $2, preloaded, holds that compile for good and tells whether
# the program went through the return from main, which would wait for it.
# Held up in its start (another process holds the settings' lock, so its
# first save waits), SIGTERM or SIGINT ends it at once, by the signal, and
# the single-instance lock goes with it: the next launch runs. Every wait is
# bounded by the tests' hang guard alone and nothing is left running.
set -euo pipefail
program="$1"
hold="$2"
[ -f "$hold" ] || { echo "no compile hold at $hold: build the vurle_compile_hold target"; exit 1; }
config="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$config"
}
trap cleanup EXIT
# The OpenCL compiler behind the renderer swaps the alternate signal stack of
# the worker thread it compiles on; AddressSanitizer then fails to unmap it
# when that thread ends at exit. Sanitizer builds leave that stack to the
# compiler; other builds are unaffected.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}use_sigaltstack=0"
# With the CPU driver's cache of built kernels off, the unheld launches
# compile in earnest, as a first launch does, and may still compile when
# they are stopped: under the sanitizers, no end may leak.
export POCL_KERNEL_CACHE=0
export XDG_CONFIG_HOME="$config"
folder="$config/vurle"
settings="$folder/mirt.vurle.app.json"

# Starts vurle in the background, its output in $1, with the environment's
# further settings NAME=value in $2...
start() {
  env "${@:2}" "$program" >"$1" 2>&1 &
  pid=$!
  pids+=("$pid")
}

# Seconds a wait below may take before the test calls it a hang: the tests'
# one hang guard, far beyond a sanitizer build's start on a busy machine.
patience="$(sed -n 's/.*kTestHangGuard{\([0-9]*\)}.*/\1/p' "$(dirname "$0")/../platform/dispatch/test_hang_guard.hpp")"
[ -n "$patience" ] || { echo "no hang guard in platform/dispatch/test_hang_guard.hpp"; exit 1; }

# Waits until $2 holds for the vurle whose output is $1, or fails.
await() {
  local deadline=$((SECONDS + patience))
  until eval "$2"; do
    kill -0 "$pid" 2>/dev/null || { echo "vurle ended while waiting for: $2"; cat "$1"; exit 1; }
    [ "$SECONDS" -lt "$deadline" ] || { echo "timed out waiting for: $2"; cat "$1"; exit 1; }
    sleep 0.1
  done
}

# Sends $2 to $1 and expects it to end with status $3. How long the stop
# takes is a benchmark's business, not this test's. A return from main
# while the compile is held leaves $exited and then waits for good.
exited="$config/exited"
expect_end() {
  kill "-$2" "$1"
  local deadline=$((SECONDS + patience))
  while kill -0 "$1" 2>/dev/null && [ ! -e "$exited" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { echo "vurle did not end on SIG$2"; exit 1; }
    sleep 0.1
  done
  [ ! -e "$exited" ] || { echo "vurle returned from main on SIG$2 while its renderer compiled"; exit 1; }
  status=0
  wait "$1" || status=$?
  [ "$status" -eq "$3" ] || { echo "vurle ended with status $status on SIG$2, not $3"; exit 1; }
}

started() { grep -q "^vurle is running as process $pid " "$1"; }

# With the compile held (on the CPU driver; without one there is none to
# hold), the stop cannot wait for it.
held="$config/compiling"
start "$config/running.out" VURLE_METAL=cpu LD_PRELOAD="$hold" VURLE_TEST_COMPILE_HELD="$held" \
  VURLE_TEST_EXITED="$exited" ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
await "$config/running.out" 'started "$config/running.out" && [ -s "$settings" ] &&
  { [ -e "$held" ] || grep -q "^vurle Metal unavailable" "$config/running.out"; }'
[ -e "$held" ] || echo "no OpenCL CPU device here: the stop during a compile is not checked"
expect_end "$pid" TERM 0
grep -q '"appIdentityMigration.v1"' "$settings" || { echo "no migration marker in $settings"; exit 1; }
grep -q '"pauseShortcut"' "$settings" || { echo "no pause shortcut in $settings"; exit 1; }

# A start held up before its main run loop turns: the first save of the
# settings waits for their lock. Ended by the signal, it leaves the lock of
# the settings folder free.
rm -f "$settings"
lock="$folder/.mirt.vurle.app.json.lock"
for signal in TERM INT; do
  # The lock is flock's alone (-o); its command only says it holds it.
  rm -f "$config/holding"
  flock -o "$lock" -c "echo \$\$ >'$config/holding'; exec sleep 600" &
  holder=$!
  pids+=("$holder")
  deadline=$((SECONDS + patience))
  until [ -s "$config/holding" ] || [ "$SECONDS" -ge "$deadline" ]; do sleep 0.1; done
  [ -s "$config/holding" ] || { echo "could not hold the settings' lock"; exit 1; }
  pids+=("$(cat "$config/holding")")
  start "$config/held.out"
  # It has taken the instance lock (its id is in it) and now waits for the
  # settings' lock (the kernel lists it as blocked on it), which it takes
  # before it would say it runs.
  await "$config/held.out" "grep -qx \"$pid\" \"$folder/.vurle-instance.lock\""
  inode="$(stat -c %i "$lock")"
  await "$config/held.out" 'started "$config/held.out" ||
    grep -Eq "^[0-9]+: -> FLOCK +ADVISORY +WRITE +$pid +[0-9a-f]+:[0-9a-f]+:$inode " /proc/locks'
  ! started "$config/held.out" || { echo "vurle started although its settings were locked"; exit 1; }
  [ "$signal" = TERM ] && code=143 || code=130
  expect_end "$pid" "$signal" "$code"
  ! started "$config/held.out" || { echo "vurle said it runs after SIG$signal ended its start"; exit 1; }
  kill "$holder" "$(cat "$config/holding")"
  wait "$holder" 2>/dev/null || true
done
start "$config/next.out"
await "$config/next.out" 'started "$config/next.out"'
expect_end "$pid" TERM 0
echo "vurle stopped cleanly on SIGTERM once running, at once while its renderer compiled, and at once on SIGTERM and SIGINT while its start was held up"
