#!/usr/bin/env bash
# Checks an ELF executable for the hardening we build with: position independence, full
# RELRO with immediate binding, the stack protector, _FORTIFY_SOURCE and, on x86-64, CET
# landing pads. Reads the binary with readelf and objdump only, so it needs nothing beyond
# binutils. Stack clash probes cannot be seen: they appear only in a frame larger than a page
# or of variable size, and the program has none.
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
# The IBT note itself needs C start-up files built with CET, which Debian 12's are not.
if grep -q 'Machine:.*X86-64' <<<"$header"; then
  objdump -d --no-show-raw-insn --disassemble=main "$exe" | grep -A1 '<main>:' | grep -q endbr64 ||
    fail "main does not open with endbr64 (-fcf-protection)"
fi
echo "ok: $exe is PIE, full RELRO, stack-protected, fortified and has CET landing pads"
