#!/usr/bin/env bash
# -h and --help print the usage and end with status 0; an unknown argument
# still ends with the usage line on stderr and status 2.
set -euo pipefail
program="$1"
for flag in --help -h; do
  out="$("$program" "$flag")" || { echo "vurle $flag ended with status $?"; exit 1; }
  [[ "$out" == "usage: vurle "* ]] || { echo "vurle $flag printed: $out"; exit 1; }
done
status=0
err="$("$program" --fast 2>&1 >/dev/null)" || status=$?
[ "$status" -eq 2 ] || { echo "vurle --fast ended with status $status, not 2"; exit 1; }
[[ "$err" == *$'\nusage: vurle '* ]] || { echo "vurle --fast said: $err"; exit 1; }
echo "vurle prints its usage on -h and --help and refuses an unknown argument with status 2"
