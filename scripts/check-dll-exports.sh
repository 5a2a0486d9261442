#!/usr/bin/env bash
# Checks that ZorvikDll.dll exports exactly the functions that
# library/include/ZorvikDll.h declares with ZORVIK_API: nothing missing,
# nothing extra (no C++ names, no runtime symbols).
#   scripts/check-dll-exports.sh [path/to/ZorvikDll.dll]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dll="${1:-$root/build/windows/library/ZorvikDll.dll}"
header="$root/library/include/ZorvikDll.h"
objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"

[[ -f "$dll" ]] || { echo "check-dll-exports: no DLL at $dll" >&2; exit 2; }
command -v "$objdump" >/dev/null || { echo "check-dll-exports: $objdump not found" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Declared: the identifier right before the parameter list of each ZORVIK_API
# declaration (preprocessor lines dropped; declarations may span lines, so
# the rest of the header is joined first).
grep -vE '^[[:space:]]*#' "$header" | tr '\n' ' ' | grep -oE 'ZORVIK_API[^;(]*\(' |
  sed -E 's/\($//; s/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$/\1/' |
  sort -u >"$work/declared"

# Exported: the name pointer table of the PE export directory.
"$objdump" -p "$dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+([^[:space:]]+).*/\1/p' |
  sort >"$work/exported"

declared_count=$(wc -l <"$work/declared")
if ((declared_count < 10)); then
  echo "check-dll-exports: found only $declared_count declarations in $header" >&2
  exit 2
fi

status=0
if ! diff -u "$work/declared" "$work/exported" >"$work/diff"; then
  status=1
  echo "check-dll-exports: export table of $(basename "$dll") differs from ZorvikDll.h"
  echo "  (lines with - are declared but not exported, + exported but not declared)"
  sed -n '3,$p' "$work/diff" | grep -E '^[-+]' | sed 's/^/  /'
fi
duplicates=$(uniq -d "$work/exported")
if [[ -n "$duplicates" ]]; then
  status=1
  echo "check-dll-exports: names exported more than once: $duplicates"
fi
if ((status == 0)); then
  echo "check-dll-exports: $(basename "$dll") exports exactly the $declared_count functions of ZorvikDll.h"
fi
exit $status
