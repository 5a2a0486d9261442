#!/usr/bin/env bash
# Builds the Debian package, installs it with dpkg -i (apt resolves what it
# pulls in), starts the installed program offscreen for a few seconds, checks
# that it loaded the installed library, and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
./package
deb=$(ls -1t build/package/zorvik_*.deb | head -n 1)
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

cleanup() { "${sudo_cmd[@]}" dpkg -r zorvik >/dev/null 2>&1 || true; }
trap cleanup EXIT

"${sudo_cmd[@]}" dpkg -i "$deb" || "${sudo_cmd[@]}" apt-get install -y -f
dpkg -L zorvik | grep -q '/usr/share/applications/zorvik.desktop'
dpkg -L zorvik | grep -q '/usr/share/icons/hicolor/scalable/apps/zorvik.svg'

workdir=$(mktemp -d)
(cd "$workdir" && QT_QPA_PLATFORM=offscreen exec /usr/bin/DLL_Zorvik_V103) &
pid=$!
sleep 4
if ! kill -0 "$pid" 2>/dev/null; then
  echo "check-package: the installed program did not stay up" >&2
  exit 1
fi
lib=$(grep -o '/[^ ]*libZorvikDll\.so[^ ]*' "/proc/$pid/maps" | sort -u | head -n 1)
kill "$pid"; wait "$pid" 2>/dev/null || true
rm -rf "$workdir"
case "$lib" in
  /usr/lib/*) echo "check-package: OK, the installed program loaded $lib" ;;
  *) echo "check-package: the program loaded '${lib:-no ZorvikDll}', not the installed library" >&2; exit 1 ;;
esac
