#!/usr/bin/env bash
# Checks an ELF executable for the hardening we build with: position independence, full
# RELRO with immediate binding, the stack protector and _FORTIFY_SOURCE. Reads the binary
# with readelf only, so it needs nothing beyond binutils.
# Usage: check_elf_hardening.sh <executable>
set -euo pipefail
exe=$1
fail() { echo "FAIL: $exe: $*" >&2; exit 1; }

header=$(readelf -h "$exe")
dynamic=$(readelf -d "$exe")
segments=$(readelf -lW "$exe")
symbols=$(readelf --dyn-syms -W "$exe")

grep -q 'Type:.*DYN' <<<"$header" || fail "not position independent (ELF type is not DYN)"
grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || fail "no PIE flag in the dynamic section"
grep -q 'GNU_RELRO' <<<"$segments" || fail "no GNU_RELRO segment"
grep -Eq 'BIND_NOW|FLAGS_1.* NOW' <<<"$dynamic" || fail "lazy binding: RELRO is only partial"
grep -q '__stack_chk_fail' <<<"$symbols" || fail "no stack protector"
grep -Eq '__[a-z]+_chk@' <<<"$symbols" || fail "no fortified libc calls (_FORTIFY_SOURCE)"
echo "ok: $exe is PIE, full RELRO, stack-protected and fortified"
