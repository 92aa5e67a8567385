#!/usr/bin/env bash
# The Debian package of a build tree, unpacked into a temporary root with `dpkg -x` (no root
# needed, nothing touched outside the folder), runs from there: the program, its documentation,
# and the launch service stand-in that the installed program must find on its own. The package
# is made under the umask many people have (002) and `make install`'s tree under the loosest
# (000): both hold folders and files of fixed modes.
# Usage: package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

# Building and packaging need the Debian packages alone, not the browser tests' npm packages.
source=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$work/bare/scripts" "$work/bare/tests/browser"
cp "$source/scripts/setup-deps" "$work/bare/scripts/"
cp "$source/tests/browser/package.json" "$source/tests/browser/package-lock.json" "$work/bare/tests/browser/"
"$work/bare/scripts/setup-deps" --check || fail "setup-deps --check asks for more than a build needs"

(umask 002; cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/out/*.deb)
deb=${debs[0]}
(umask 000; DESTDIR="$work/installed" cmake --install "$build" --prefix /usr/local) >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "make install failed"; }

# "MODE PATH" lines whose mode is not what an installed tree needs: 0755 for folders and the
# program, 0644 for other files (links have no mode of their own).
wrongModes() {
  awk '$1 ~ /^l/ { next }
       $1 ~ /^d/ { if ($1 != "drwxr-xr-x") print; next }
       $2 ~ /bin\/nimbra$/ { if ($1 != "-rwxr-xr-x") print; next }
       $1 != "-rw-r--r--" { print }'
}
wrong=$(dpkg-deb -c "$deb" | awk '{ print $1, $6 }' | wrongModes)
[ -z "$wrong" ] || fail "modes in the package made under umask 002: $wrong"
wrong=$(find "$work/installed" -mindepth 1 -printf '%M %P\n' | wrongModes)
[ -z "$wrong" ] || fail "modes of make install under umask 000: $wrong"
# Debian's own check of the package: a copyright file, a changelog, nothing it calls an error.
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian found errors"; }
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libssl libplist libpng libblkid libicu; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
[ "$("$root/usr/bin/nimbra" --version)" = "nimbra $version" ] || fail "--version says: $("$root/usr/bin/nimbra" --version)"
zcat "$root/usr/share/man/man1/nimbra.1.gz" | grep -q "^\.TH NIMBRA 1 .*nimbra $version" || fail "no manual page of this version"
[ -f "$root/usr/share/bash-completion/completions/nimbra" ] || fail "no bash completion"
[ ! -e "$root/usr/bin/launchctl" ] || fail "a launchctl on PATH"

# The startup items call runs the stand-in, which runs systemctl: a recording one, first on PATH.
mkdir -p "$work/bin" "$work/home"
printf '#!/bin/sh\necho "$*" >> "%s/systemctl.log"\n' "$work" >"$work/bin/systemctl"
chmod 755 "$work/bin/systemctl"
startupItems() { HOME=$work/home PATH=$work/bin:$PATH "$root/usr/bin/nimbra" call listStartupItems >/dev/null; }
startupItems
grep -q "list-units" "$work/systemctl.log" 2>/dev/null || fail "the installed program did not find its stand-in"

# Where another user could have put the stand-in's folder, it is not run, and a job is not
# switched: the answer says why, and the job's file stays as it was.
rm "$work/systemctl.log"
chmod o+w "$root/usr"
startupItems
job=$work/home/Library/LaunchAgents/com.x.plist
mkdir -p "${job%/*}"
printf '<plist><dict><key>Label</key><string>com.x</string></dict></plist>\n' >"$job"
answer=$(HOME=$work/home PATH=$work/bin:$PATH "$root/usr/bin/nimbra" call setStartupItem "{\"id\":\"$job\",\"kind\":\"userAgent\",\"enabled\":false}")
[[ $answer == *'"ok":false'* && $answer == *"$root/usr is writable by its group or everyone"* ]] || fail "switched without its stand-in: $answer"
! grep -q Disabled "$job" || fail "the job's file was changed without a launch service to unload it"
[ ! -e "$work/systemctl.log" ] || fail "a stand-in below a folder open to others was run"
