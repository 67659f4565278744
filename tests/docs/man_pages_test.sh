#!/usr/bin/env bash
# The man pages as man renders them (80 columns): no warnings from the
# formatter, and every variable, exit status, command and option that the
# programs' own --help names is in its page.
#   man_pages_test.sh SOURCE_DIR HHSYNC HHCTL
set -euo pipefail
src=$1 hhsync=$2 hhctl=$3
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

render() {
  local warnings
  warnings=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null) || fail "man cannot render $1"
  [ -z "$warnings" ] || fail "$1: $warnings"
  # Justified lines have runs of blanks; one blank is enough to compare.
  MANWIDTH=80 man -l "$1" 2>/dev/null | col -bx | tr -s ' '
}
hhsync_page=$(render "$src/docs/man/hhsync.1")
hhctl_page=$(render "$src/docs/man/hhctl.1")
help=$(env -i "$hhsync" --help)

# hhsync: the variables and the exit statuses of --help.
for variable in $(grep -o 'HHSYNC_[A-Z_]*' <<< "$help" | sort -u); do
  grep -q "$variable" <<< "$hhsync_page" || fail "hhsync(1) does not name $variable"
done
exit_section=$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<< "$hhsync_page")
while read -r code words; do
  first=${words%%[ ,]*}
  grep -A2 -E "^ $code( |\$)" <<< "$exit_section" | grep -q -- "$first" ||
    fail "hhsync(1) does not give status $code for $first"
done < <(sed -n '/^Exit status:/,$p' <<< "$help" | grep -E '^ +[0-9] ')

# hhctl: every command of every group, and every option of the sweep.
for group in device registry sdat edm serve sweep; do
  group_help=$("$hhctl" "$group" --help)
  for command in $(sed -n '/^Subcommands:/,/^$/p' <<< "$group_help" | awk 'NR > 1 && NF {print $1}'); do
    grep -qE "hhctl $group( \[[^]]*\])? ($command|[a-z|]*\|$command)([ |]|\$)|\| ($group )?$command( |\$)" \
      <<< "$hhctl_page" ||
      fail "hhctl(1) has no heading for hhctl $group $command"
  done
  for option in $(grep -oE '^ +--[a-z-]+' <<< "$group_help" | tr -d ' ' | sort -u); do
    grep -q -- "$option" <<< "$hhctl_page" || fail "hhctl(1) does not name $group $option"
  done
done
# A heading is one line: "hhctl device verify" and its options stay together.
grep -qE '^ hhctl device verify \[--registry PATH\] \[--json\]$' <<< "$hhctl_page" ||
  fail "hhctl(1)'s verify heading is cut"

[ "$failed" = 0 ] && echo "man pages: rendered cleanly and agree with --help"
exit "$failed"
