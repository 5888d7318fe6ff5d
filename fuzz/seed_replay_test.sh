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
# expect pass|fail WHAT FOLDER...
expect() {
  local want="$1" what="$2" got=pass
  shift 2
  ("$program" "$@"; exit $?) >"$dir/out" 2>&1 || got=fail  # the subshell keeps an abort quiet
  [ "$got" = "$want" ] || { echo "$what: the replay should $want, it did not"; cat "$dir/out"; exit 1; }
}
expect pass "a good seed" "$dir/good"
expect fail "a missing folder" "$dir/missing"
expect fail "an empty folder" "$dir/empty"
expect fail "a good folder beside an empty one" "$dir/good" "$dir/empty"
expect fail "a seed that breaks the target" "$dir/bad"
grep -q "property broken" "$dir/out" || { echo "the breaking seed did not run:"; cat "$dir/out"; exit 1; }
echo "the seed replay fails on a missing or empty folder and on a seed that breaks its target"
