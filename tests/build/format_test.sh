#!/usr/bin/env bash
# Every tracked C++ file is as clang-format (the repository's .clang-format)
# leaves it; names the files that are not.
#   format_test.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1
command -v clang-format >/dev/null || { echo "clang-format is not installed"; exit 1; }
status=0
while IFS= read -r file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "not formatted: $file (clang-format -i $file)"
    status=1
  fi
done < <(git ls-files '*.cc' '*.h')
exit $status
