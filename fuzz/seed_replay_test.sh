#!/usr/bin/env bash
# The seed replay passes only when it ran every seed and none broke its
# target: a missing or empty folder fails it, and so does a breaking seed
# after a good one.
set -uo pipefail
program="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/empty" "$dir/good" "$dir/bad"
printf 'fine' >"$dir/good/a"
printf 'fine' >"$dir/bad/a"
printf '!' >"$dir/bad/b"
expect() {
  local want="$1" what="$2"
  shift 2
  local status=0
  ("$program" "$@"; exit $?) >"$dir/out" 2>&1 || status=$?
  if [ "$want" = pass ] && [ "$status" -ne 0 ]; then
    echo "$what: status $status"; cat "$dir/out"; exit 1
  fi
  if [ "$want" = fail ] && [ "$status" -eq 0 ]; then
    echo "$what: passed"; cat "$dir/out"; exit 1
  fi
}
expect pass "a good seed" "$dir/good"
expect fail "a missing folder" "$dir/missing"
expect fail "an empty folder" "$dir/empty"
expect fail "a good folder beside an empty one" "$dir/good" "$dir/empty"
expect fail "a seed that breaks the target" "$dir/bad"
grep -q "property broken" "$dir/out" || { echo "the breaking seed did not run:"; cat "$dir/out"; exit 1; }
echo "the seed replay fails on a missing or empty folder and on a seed that breaks its target"
