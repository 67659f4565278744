#!/usr/bin/env bash
# The layer check fails on each way a core file can reach where it must not,
# and passes the tree as it is.
#   check_layers_test.sh SOURCE_DIR
set -uo pipefail
src="$1"
check="$src/cmake/CheckLayers.cmake"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0

cmake -DSOURCE_DIR="$src" -P "$check" >/dev/null 2>&1 || { echo "the tree itself fails"; failures=1; }

# One core file with one include; the check must refuse it and name it.
expect_refused() {
  local file="$1" line="$2"
  rm -rf "$tmp/tree"
  mkdir -p "$tmp/tree/$(dirname "$file")"
  printf '%s\n' "$line" > "$tmp/tree/$file"
  if out="$(cmake -DSOURCE_DIR="$tmp/tree" -P "$check" 2>&1)"; then
    echo "not refused: $file: $line"; failures=1
  elif ! grep -qF "$file" <<<"$out"; then
    echo "refused without naming $file: $out"; failures=1
  fi
}
expect_refused base/text.h '#include "app/sync_runner.h"'
expect_refused content/item.cc '#include "extras/keep_list.h"'
expect_refused settings/s.cc '#  include "app/sync_runner.h"'
expect_refused device/d.cc '#include "platform/linux/env_paths.h"'
expect_refused net/n.cc '#include "emulator/emulated_handheld.h"'
expect_refused app/a.cc '#include "tests/support/test_platform.h"'

# Below, beside and library includes pass.
rm -rf "$tmp/tree"; mkdir -p "$tmp/tree/app"
printf '%s\n' '#include "base/text.h"' '#include "app/x.h"' '#include "x.h"' '#include <nlohmann/json.hpp>' \
  > "$tmp/tree/app/a.cc"
cmake -DSOURCE_DIR="$tmp/tree" -P "$check" >/dev/null 2>&1 || { echo "a legal include is refused"; failures=1; }
exit $failures
