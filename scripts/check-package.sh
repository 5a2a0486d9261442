#!/usr/bin/env bash
# Builds the Debian packages (./package), has lintian check them (any error or
# warning fails), installs them with dpkg -i (apt resolves what they pull in),
# checks their files and dependencies, starts the installed program offscreen
# (as zorvik-gui) for a few seconds and checks that it loaded the installed
# library, runs zorvik --version, builds an example client of zorvik-dev's
# documentation through pkg-config and runs it on a pseudo-terminal, and
# purges the packages again.
set -euo pipefail
cd "$(dirname "$0")/.."
./package
packages=(libzorvikdll1 zorvik zorvik-dev)
version="$(dpkg-parsechangelog -S Version)"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
libdir="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
debs=()
for pkg in "${packages[@]}"; do debs+=("build/package/${pkg}_${version}_${arch}.deb"); done

fail() { echo "check-package: $*" >&2; exit 1; }

workdir=$(mktemp -d)
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
cleanup() {
  for job in ${lintian_pid:-} ${pid:-}; do kill "$job" 2>/dev/null || true; done
  "${sudo_cmd[@]}" dpkg --purge zorvik-dev zorvik libzorvikdll1 >/dev/null 2>&1 || true
  rm -rf "$workdir"
}
trap cleanup EXIT

# lintian reads the packages while they are installed and tried; informational
# tags are shown, not counted.
lintian --fail-on error,warning --display-info "${debs[@]}" >"$workdir/lintian" 2>&1 &
lintian_pid=$!
"${sudo_cmd[@]}" dpkg -i "${debs[@]}" || "${sudo_cmd[@]}" apt-get install -y -f

# Fails naming the first of the given paths that package $1 does not hold.
expect_files() {
  local pkg="$1" listing
  shift
  listing="$(dpkg -L "$pkg")"
  for path in "$@"; do
    grep -qxF "$path" <<<"$listing" || fail "$pkg lacks $path"
  done
}
for pkg in "${packages[@]}"; do
  expect_files "$pkg" "/usr/share/doc/$pkg/copyright" "/usr/share/doc/$pkg/changelog.gz"
done
expect_files libzorvikdll1 "$libdir/libZorvikDll.so.1" "$libdir/libZorvikDll.so.$version"
expect_files zorvik /usr/bin/DLL_Zorvik_V103 /usr/bin/zorvik-gui \
  /usr/share/applications/zorvik.desktop /usr/share/icons/hicolor/scalable/apps/zorvik.svg \
  /usr/share/man/man1/DLL_Zorvik_V103.1.gz /usr/share/man/man1/zorvik-gui.1.gz \
  /usr/bin/zorvik /usr/share/man/man1/zorvik.1.gz /usr/share/bash-completion/completions/zorvik
expect_files zorvik-dev /usr/include/ZorvikDll.h "$libdir/libZorvikDll.so" \
  "$libdir/pkgconfig/zorvikdll.pc"
if dpkg -L zorvik libzorvikdll1 | grep -q -e '\.h$' -e '/libZorvikDll\.so$' -e '\.pc$'; then
  fail "a runtime package holds development files"
fi
if dpkg -L zorvik | grep -q '/libZorvikDll\.so'; then fail "zorvik holds the library"; fi
[[ -e "$(readlink -f "$libdir/libZorvikDll.so")" ]] || fail "the development link points nowhere"
# The symbols file's version, through shlibs:Depends.
dpkg-query -W -f='${Depends}' zorvik | grep -qF "libzorvikdll1 (>= $version)" \
  || fail "zorvik does not depend on libzorvikdll1 (>= $version)"
for page in zorvik-gui zorvik; do
  zcat "/usr/share/man/man1/$page.1.gz" | grep -q '^\.SH NAME' \
    || fail "the man page of $page does not read"
done
/usr/bin/zorvik --version | grep -qF "$version" \
  || fail "zorvik --version does not give the package's version"

# Another project's use of the library: an example client from zorvik-dev's
# documentation, built with pkg-config's flags, prints the fix that a
# pseudo-terminal sends it.
examples=/usr/share/doc/zorvik-dev/examples
expect_files zorvik-dev "$examples/print_fixes.c" "$examples/query_version.c" \
  "$examples/list_ports.c" "$examples/receiver_line.h"
# shellcheck disable=SC2046 # pkg-config's output is a list of words
cc -std=c11 -Wall -Wextra -Werror -o "$workdir/print_fixes" "$examples/print_fixes.c" \
  $(pkg-config --cflags --libs zorvikdll)
/usr/bin/python3 - "$workdir/print_fixes" <<'EOF' || fail "the example client built with pkg-config's flags did not print the fix"
import os, pty, subprocess, sys, time, tty
master, slave = pty.openpty()
tty.setraw(slave)
os.set_blocking(master, False)
rmc = b"$GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A*45\r\n"
proc = subprocess.Popen([sys.argv[1], os.ttyname(slave), "9600", "1"], stdout=subprocess.PIPE)
deadline = time.monotonic() + 10
while proc.poll() is None and time.monotonic() < deadline:
    try:
        os.write(master, rmc)
    except BlockingIOError:
        pass
    time.sleep(0.2)
if proc.poll() is None:
    proc.kill()
out = proc.communicate(timeout=5)[0]
sys.exit(0 if out == b"time 092751.000 date 280511 status A lat 5321.6802 N lon 00630.3371 W "
         b"speed 0.06 kn course 31.66\n" else 1)
EOF

(cd "$workdir" && QT_QPA_PLATFORM=offscreen exec /usr/bin/zorvik-gui) &
pid=$!
sleep 4
kill -0 "$pid" 2>/dev/null || fail "the installed program did not stay up"
lib=$(grep -o '/[^ ]*libZorvikDll\.so[^ ]*' "/proc/$pid/maps" | sort -u | head -n 1)
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
[[ "$lib" == "$libdir"/* ]] || fail "the program loaded '${lib:-no ZorvikDll}', not the installed library"

lintian_status=0
wait "$lintian_pid" || lintian_status=$?
lintian_pid=
grep -v '^running with root privileges' "$workdir/lintian" || true
((lintian_status == 0)) || fail "lintian reports errors or warnings"
echo "check-package: OK, lintian clean; ${packages[*]} install; the program loaded $lib;" \
  "the example client built with pkg-config prints a fix"
