#!/usr/bin/env bash
# One vurle per settings folder: a second launch on the folder of a running
# one prints one line naming it, asks it to reopen, writes nothing and exits
# 0; the first goes on and stops cleanly; once it has ended, a launch runs.
# Every wait is bounded and nothing is left running.
set -euo pipefail
program="$1"
# The tests' one bound against a hang, in seconds.
guard="$(sed -n 's/.*kTestHangGuard{\([0-9]*\)}.*/\1/p' "$(dirname "$0")/../platform/dispatch/test_hang_guard.hpp")"
[ -n "$guard" ] || { echo "no hang guard in platform/dispatch/test_hang_guard.hpp"; exit 1; }
config="$(mktemp -d)"
output="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$config" "$output"
}
trap cleanup EXIT
# As in the SIGTERM test: sanitizer builds leave the compiler's signal stack alone.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}use_sigaltstack=0"
export XDG_CONFIG_HOME="$config"
settings="$config/vurle/mirt.vurle.app.json"

# Starts vurle in the background, its output in $1, and waits (bounded)
# until it has said it runs and written its settings.
launch() {
  "$program" >"$1" 2>"$1.err" &
  pid=$!
  pids+=("$pid")
  local deadline=$((SECONDS + guard))
  until grep -q "^vurle is running as process $pid " "$1" && [ -s "$settings" ]; do
    kill -0 "$pid" 2>/dev/null || { echo "vurle exited at start:"; cat "$1" "$1.err"; exit 1; }
    ((SECONDS < deadline)) || { echo "vurle did not start in time"; exit 1; }
    sleep 0.1
  done
}

stop() {
  kill -TERM "$1" || { echo "vurle had ended"; exit 1; }
  status=0
  timeout "$guard" tail --pid="$1" -f /dev/null || { echo "vurle did not stop"; exit 1; }
  wait "$1" || status=$?
  [ "$status" -eq 0 ] || { echo "vurle exited with status $status"; exit 1; }
}

# What the folder holds: every entry with its type, and every file's bytes.
snapshot() {
  (cd "$config" && find . -printf '%p %y\n' | sort && find . -type f -print0 | sort -z | xargs -0 md5sum)
}

# Waits until the first vurle has taken every request from its pipe (open
# here as descriptor 3).
await_taken() {
  local deadline=$((SECONDS + guard))
  while read -t 0 -u 3; do
    kill -0 "$first" 2>/dev/null || { echo "the first vurle ended"; cat "$output/first.out.err"; exit 1; }
    ((SECONDS < deadline)) || { echo "the first vurle did not take the reopen request"; exit 1; }
    sleep 0.1
  done
}

launch "$output/first.out"
first=$pid
grep -qx "vurle is running as process $first with its settings in $config/vurle; stop it with Control-C or \`kill $first\`" \
  "$output/first.out" || { echo "unexpected start line:"; cat "$output/first.out"; exit 1; }

# Stopped, the first cannot write meanwhile, so any change is the second's;
# its lock and its pipe stay open. The test watches the pipe (opened for
# reading and writing, it neither blocks nor takes a request away).
kill -STOP "$first"
before="$(snapshot)"
status=0
second="$(timeout "$guard" "$program" 2>"$output/second.err")" || status=$?
after="$(snapshot)"
exec 3<>"$config/vurle/.vurle-reopen"
read -t 0 -u 3 || { echo "no reopen request waits in the pipe"; exit 1; }
kill -CONT "$first"
[ "$status" -eq 0 ] || { echo "the second launch exited with status $status"; cat "$output/second.err"; exit 1; }
[ "$(printf '%s\n' "$second" | wc -l)" -eq 1 ] || { echo "expected one line, got:"; echo "$second"; exit 1; }
expected="vurle is already running as process $first with the settings in $config/vurle; it was asked to show its window"
[ "$second" = "$expected" ] || { echo "unexpected line: $second"; exit 1; }
[ "$before" = "$after" ] || { echo "the second launch changed the settings folder:"; diff <(echo "$before") <(echo "$after") || true; exit 1; }
# It goes on running after the reopen: its main thread takes a later
# request only once the reopen has run its course there.
await_taken
again="$(timeout "$guard" "$program" 2>"$output/again.err")" || { echo "the next launch failed"; exit 1; }
[ "$again" = "$expected" ] || { echo "unexpected line of the next launch: $again"; exit 1; }
await_taken
exec 3<&-
stop "$first"

# The lock ended with its holder.
launch "$output/third.out"
stop "$pid"
echo "a second vurle reopened the first and left; a launch after it ran"
