#!/usr/bin/env bash
# Starts the program on a fresh settings folder, waits until it has written
# its settings (bounded), stops it with SIGTERM and expects a clean exit.
set -euo pipefail
program="$1"
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
# The OpenCL compiler behind the renderer swaps the alternate signal stack of
# the worker thread it compiles on; AddressSanitizer then fails to unmap it
# when that thread ends at exit. Sanitizer builds leave that stack to the
# compiler; other builds are unaffected.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}use_sigaltstack=0"
XDG_CONFIG_HOME="$config" "$program" &
pid=$!
settings="$config/vurle/mirt.vurle.app.json"
for _ in $(seq 1 300); do
  [ -s "$settings" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "vurle exited before writing its settings"; exit 1; }
  sleep 0.1
done
[ -s "$settings" ] || { echo "no settings written in time"; kill -9 "$pid"; exit 1; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { echo "vurle exited with status $status"; exit 1; }
grep -q '"appIdentityMigration.v1"' "$settings" || { echo "no migration marker in $settings"; exit 1; }
grep -q '"pauseShortcut"' "$settings" || { echo "no pause shortcut in $settings"; exit 1; }
echo "vurle started, saved its settings and stopped on SIGTERM"
