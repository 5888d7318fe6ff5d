#!/usr/bin/env bash
# On a settings folder whose disk is full, vurle cannot write its process id
# into its single-instance lock: it says so once and keeps the lock, so a
# second launch still finds it (naming no process) and leaves. The full
# disk is a 4 KiB tmpfs filled up, mounted in a user and mount namespace of
# this test's own; where the system allows no such namespace the test is
# skipped (status 77). Every wait is bounded and nothing is left running.
set -euo pipefail
program="$1"
# The tests' one bound against a hang, in seconds.
guard="$(sed -n 's/.*kTestHangGuard{\([0-9]*\)}.*/\1/p' "$(dirname "$0")/../platform/dispatch/test_hang_guard.hpp")"
[ -n "$guard" ] || { echo "no hang guard in platform/dispatch/test_hang_guard.hpp"; exit 1; }
if [ "${2:-}" != --inside ]; then
  if ! unshare -rm true 2>/dev/null; then
    echo "skipped: this system allows no user and mount namespace for a small tmpfs"
    exit 77
  fi
  exec unshare -rm "$0" "$program" --inside
fi

config="$(mktemp -d)"
output="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  umount "$config" 2>/dev/null || true
  rm -rf "$config" "$output"
}
trap cleanup EXIT
mount -t tmpfs -o size=4k tmpfs "$config" || { echo "skipped: no tmpfs can be mounted here"; exit 77; }
head -c 65536 /dev/zero >"$config/filler" 2>/dev/null || true
# Nothing more fits.
! printf x >"$config/probe" 2>/dev/null || { echo "the tmpfs is not full"; exit 1; }
rm -f "$config/probe"

export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}use_sigaltstack=0"
export XDG_CONFIG_HOME="$config"
folder="$config/vurle"

"$program" >"$output/first.out" 2>&1 &
first=$!
pids+=("$first")
deadline=$((SECONDS + guard))
until grep -q "^vurle is running as process $first " "$output/first.out"; do
  kill -0 "$first" 2>/dev/null || { echo "vurle ended at start:"; cat "$output/first.out"; exit 1; }
  ((SECONDS < deadline)) || { echo "vurle did not start"; cat "$output/first.out"; exit 1; }
  sleep 0.1
done
said="$(grep -c "cannot write its process id into $folder/.vurle-instance.lock (No space left on device)" "$output/first.out" || true)"
[ "$said" -eq 1 ] || { echo "expected the missing process id said once, said $said times:"; cat "$output/first.out"; exit 1; }
grep -q "cannot tell whether another vurle" "$output/first.out" && { echo "vurle let go of its lock:"; cat "$output/first.out"; exit 1; }

status=0
second="$(timeout "$guard" "$program" 2>"$output/second.err")" || status=$?
[ "$status" -eq 0 ] || { echo "the second launch ended with status $status"; cat "$output/second.err"; exit 1; }
expected="vurle is already running with the settings in $folder; it was asked to show its window"
[ "$second" = "$expected" ] || { echo "unexpected second launch: $second"; cat "$output/second.err"; exit 1; }
kill -0 "$first" || { echo "the first vurle ended"; exit 1; }

kill -TERM "$first"
timeout "$guard" tail --pid="$first" -f /dev/null || { echo "vurle did not stop"; exit 1; }
status=0
wait "$first" || status=$?
[ "$status" -eq 0 ] || { echo "vurle ended with status $status"; cat "$output/first.out"; exit 1; }
echo "on a full disk vurle kept its lock without its process id, said so once, and a second launch left"
