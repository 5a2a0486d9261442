#!/usr/bin/env bash
# Builds the Debian packages, installs them with dpkg -i (apt resolves what
# they pull in), checks their files, starts the installed program offscreen
# (as zorvik-gui) for a few seconds, checks that it loaded the installed
# library, and removes the packages again.
set -euo pipefail
cd "$(dirname "$0")/.."
./package
latest() { ls -1t build/package/"$1"_*.deb | head -n 1; }
debs=("$(latest zorvik)" "$(latest zorvik-dev)")
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

cleanup() { "${sudo_cmd[@]}" dpkg --purge zorvik-dev zorvik >/dev/null 2>&1 || true; }
trap cleanup EXIT

"${sudo_cmd[@]}" dpkg -i "${debs[@]}" || "${sudo_cmd[@]}" apt-get install -y -f

# Fails naming the first of the given paths that package $1 does not hold.
expect_files() {
  local pkg="$1" listing
  shift
  listing="$(dpkg -L "$pkg")"
  for path in "$@"; do
    grep -qxF "$path" <<<"$listing" || { echo "check-package: $pkg lacks $path" >&2; exit 1; }
  done
}
expect_files zorvik /usr/bin/DLL_Zorvik_V103 /usr/bin/zorvik-gui \
  /usr/share/applications/zorvik.desktop /usr/share/icons/hicolor/scalable/apps/zorvik.svg \
  /usr/share/man/man1/DLL_Zorvik_V103.1.gz /usr/share/man/man1/zorvik-gui.1.gz \
  /usr/share/doc/zorvik/copyright /usr/share/doc/zorvik/changelog.gz \
  /usr/bin/zorvik /usr/share/man/man1/zorvik.1.gz /usr/share/bash-completion/completions/zorvik
expect_files zorvik-dev /usr/include/ZorvikDll.h \
  /usr/share/doc/zorvik-dev/copyright /usr/share/doc/zorvik-dev/changelog.gz
dpkg -L zorvik-dev | grep -q '/libZorvikDll\.so$' || { echo "check-package: zorvik-dev lacks libZorvikDll.so" >&2; exit 1; }
if dpkg -L zorvik | grep -q -e '\.h$' -e '/libZorvikDll\.so$'; then
  echo "check-package: the runtime package holds development files" >&2; exit 1
fi
[[ -e "$(readlink -f "$(dpkg -L zorvik-dev | grep '/libZorvikDll\.so$')")" ]] \
  || { echo "check-package: the development link points nowhere" >&2; exit 1; }
for page in zorvik-gui zorvik; do
  zcat "/usr/share/man/man1/$page.1.gz" | grep -q '^\.SH NAME' \
    || { echo "check-package: the man page of $page does not read" >&2; exit 1; }
done
/usr/bin/zorvik --version | grep -qF "$(dpkg-query -W -f='${Version}' zorvik)" \
  || { echo "check-package: zorvik --version does not give the package's version" >&2; exit 1; }

workdir=$(mktemp -d)
(cd "$workdir" && QT_QPA_PLATFORM=offscreen exec /usr/bin/zorvik-gui) &
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
  /usr/lib/*) echo "check-package: OK, zorvik and zorvik-dev install; the installed program loaded $lib" ;;
  *) echo "check-package: the program loaded '${lib:-no ZorvikDll}', not the installed library" >&2; exit 1 ;;
esac
