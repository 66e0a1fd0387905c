#!/usr/bin/env bash
# The DLL's tables, read with objdump: it imports only DLLs that ship with Windows (no C++
# runtime, no winpthread, no libcurl beside it), and it exports exactly the functions the
# public headers declare with CORVANE_API, plus the members of the exported module classes.
# The .def file written by the link lists the same exports.
#   dll_tables_test.sh DLL DEF OBJDUMP INCLUDE_DIR
set -euo pipefail
dll=$1 def=$2 objdump=$3 include=$4
status=0
fail() { echo "FAIL: $*"; status=1; }

# DLLs that are part of every Windows installation (and of Wine).
system_dlls=" $(echo kernel32.dll user32.dll advapi32.dll ws2_32.dll iphlpapi.dll crypt32.dll \
  secur32.dll bcrypt.dll msvcrt.dll ntdll.dll shell32.dll ole32.dll normaliz.dll wldap32.dll) "
dump=$("$objdump" -p "$dll")
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || fail "no import table read from $dll"
for d in $imports; do
  case "$system_dlls" in
    *" $d "*) echo "imports $d" ;;
    *) fail "imports $d, which is not part of Windows" ;;
  esac
done

# Exports: the names after the "[Ordinal/Name Pointer] Table" heading.
exported=$(printf '%s\n' "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next}
  on && /^[[:space:]]*\[/ {print $NF; next} on && NF == 0 {on=0}' | sort -u)
[ -n "$exported" ] || fail "no export table read from $dll"
declared=$(cat "$include"/CorvaneSDK.h "$include"/CorvaneSDKEvents.h | tr '\n' ' ' |
  grep -oE 'CORVANE_API[[:space:]]+[A-Za-z_][A-Za-z0-9_[:space:]*]*[[:space:]*]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\(' |
  sed -E 's/[[:space:]]*\($//; s/.*[[:space:]*]//' | sort -u)
count=$(printf '%s\n' "$declared" | wc -l)
[ "$count" -gt 200 ] || fail "only $count declarations read from the headers"
c_exports=$(printf '%s\n' "$exported" | grep -v '^_Z' || true)
missing=$(comm -23 <(printf '%s\n' "$declared") <(printf '%s\n' "$c_exports"))
extra=$(comm -13 <(printf '%s\n' "$declared") <(printf '%s\n' "$c_exports"))
[ -z "$missing" ] || fail "declared but not exported: $(echo $missing)"
[ -z "$extra" ] || fail "exported but not declared: $(echo $extra)"
# C++ exports: only the module classes of CorvaneSDKModule.h.
while read -r sym; do
  [ -n "$sym" ] || continue
  case "$(echo "$sym" | c++filt)" in
    CorvaneSDK::CorvaneSDKModule* | "typeinfo for CorvaneSDK::CorvaneSDKModule"* | \
      "vtable for CorvaneSDK::CorvaneSDKModule"*) ;;
    *) fail "C++ export outside the module classes: $sym ($(echo "$sym" | c++filt))" ;;
  esac
done < <(printf '%s\n' "$exported" | grep '^_Z' || true)

# The .def file names the same exports.
def_names=$(sed -n '/^EXPORTS/,$p' "$def" | sed '1d' | awk '{print $1}' | sed 's/@.*//' | sort -u)
[ "$def_names" = "$exported" ] || fail ".def file and export table differ: $(diff <(echo "$def_names") <(echo "$exported") | head -5 | tr '\n' ' ')"

echo "$(printf '%s\n' "$exported" | wc -l) exports ($count declared C functions), imports: $(echo $imports)"
exit $status
