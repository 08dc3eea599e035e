#!/usr/bin/env bash
# Runs a command that must fail cleanly: with exactly the expected exit status (not a
# signal, not a crash) and with a message on standard error matching a pattern.
# Usage: expect_failure.sh <status> <stderr-regex> <command> [args...]
set -uo pipefail
want_status=$1 pattern=$2
shift 2
err=$(mktemp)
trap 'rm -f "$err"' EXIT
timeout 60 "$@" 2>"$err" >/dev/null
status=$?
cat "$err" >&2
if [ "$status" -ne "$want_status" ]; then
  echo "FAIL: exit status $status, expected $want_status" >&2
  exit 1
fi
if ! grep -Eq "$pattern" "$err"; then
  echo "FAIL: standard error does not match /$pattern/" >&2
  exit 1
fi
echo "ok: status $status, message matches"
