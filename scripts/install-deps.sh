#!/usr/bin/env bash
# Installs the Debian packages of the named lists in scripts/ that are missing:
# one `apt-get update`, then `apt-get install -y` of only the missing ones.
#   scripts/install-deps.sh [LIST...]
# Without a list it installs what building, running and testing need
# (packages-run.txt, packages-display.txt, packages-cli.txt, packages.txt).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
names=("$@")
((${#names[@]})) || names=(packages-run.txt packages-display.txt packages-cli.txt packages.txt)
lists=()
for name in "${names[@]}"; do lists+=("$here/$name"); done

missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done < <(cat "${lists[@]}")

if ((${#missing[@]} == 0)); then
  exit 0
fi
echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
