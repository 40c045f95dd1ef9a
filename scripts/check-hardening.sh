#!/usr/bin/env bash
# Checks that the given programs were built hardened, so that a change of
# flags cannot silently undo it. An ELF program (from an optimised build) must
# be position-independent, bind every symbol at start (BIND_NOW) so that its
# relocations can be made read-only (GNU_RELRO), call the stack protector and
# use at least one checked (_FORTIFY_SOURCE) C library function. A Windows
# program must allow a randomised base anywhere in the 64-bit address space
# and non-executable data, keep the relocations a new base needs, and (in its
# symbol table: unstripped) call the stack protector.
# Prints one line per program; exits 1 if any lacks something.
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: scripts/check-hardening.sh PROGRAM..." >&2
  exit 2
fi

status=0
missing=()
lacks() { missing+=("$1"); }

check_elf() {
  local header dynamic segments symbols
  header=$(readelf -hW "$1") && dynamic=$(readelf -dW "$1") && segments=$(readelf -lW "$1") &&
    symbols=$(readelf --dyn-syms -W "$1") || { lacks "readable ELF headers"; return; }
  grep -qE '^ *Type: +DYN' <<<"$header" || lacks "PIE (type DYN)"
  grep -qE '\(FLAGS\) .*BIND_NOW|\(FLAGS_1\) .*Flags:.* NOW' <<<"$dynamic" || lacks "BIND_NOW"
  grep -qE '^ *GNU_RELRO ' <<<"$segments" || lacks "GNU_RELRO"
  grep -qE ' __stack_chk_fail(@|$)' <<<"$symbols" || lacks "__stack_chk_fail"
  grep -qE ' __[a-z0-9_]+_chk(@|$)' <<<"$symbols" || lacks "a _FORTIFY_SOURCE _chk function"
}

check_pe() {
  local objdump headers
  objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
  headers=$("$objdump" -p -h -t "$1") || { lacks "readable PE headers"; return; }
  local flag
  for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    grep -qE "^[[:space:]]+$flag\$" <<<"$headers" || lacks "$flag"
  done
  grep -qE '^ +[0-9]+ \.reloc ' <<<"$headers" || lacks "a .reloc section"
  grep -qE ' __stack_chk_fail$' <<<"$headers" || lacks "__stack_chk_fail"
}

for program in "$@"; do
  if [ ! -f "$program" ]; then
    echo "$program: no such file" >&2
    status=1
    continue
  fi
  missing=()
  case $(head -c 4 "$program" | od -An -c | tr -d ' ') in
    177ELF) check_elf "$program" ;;
    MZ*) check_pe "$program" ;;
    *) lacks "an ELF or PE format" ;;
  esac
  if [ ${#missing[@]} -eq 0 ]; then
    echo "$program: hardened"
  else
    printf -v list '%s, ' "${missing[@]}"
    echo "$program: not hardened, lacks: ${list%, }" >&2
    status=1
  fi
done
exit $status
