#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package made from the built tree: its files, its Depends against what the
# program links, lintian without errors, the AppStream data, menu entry and service unit
# valid, and the program running from the unpacked package.
#   package.sh BUILD_DIR VERSION
set -u
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$work/belvoran_${version}_amd64.deb
[ -f "$deb" ] || { ls "$work"; fail "no $(basename "$deb")"; }

dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
expected=(
    /usr/bin/belvoran
    /usr/share/applications/belvoran.desktop
    /usr/share/icons/hicolor/scalable/apps/belvoran.svg
    /usr/share/metainfo/org.belvoran.belvoran.metainfo.xml
    /usr/share/man/man1/belvoran.1.gz
    /usr/share/doc/belvoran/copyright
    /usr/share/doc/belvoran/changelog.gz
    /usr/lib/systemd/system/belvoran.service
    /usr/lib/sysusers.d/belvoran.conf
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/belvoran.png")
done
for path in "${expected[@]}"; do
    grep -qx "$path" "$work/contents" || { cat "$work/contents"; fail "the package lacks $path"; }
done
echo "contents: ${#expected[@]} expected files present"

# Every library the program links comes from a package in Depends; no -dev package there.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# One package name a line, without versions or alternatives.
names=$(sed 's/ *([^)]*)//g; s/ *[,|] */\n/g' <<<"$depends")
in_depends() { grep -qxF "$1" <<<"$names"; }
dpkg-deb -x "$deb" "$work/root"
program=$work/root/usr/bin/belvoran
for lib in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l && /x86-64/ {print $NF; exit}')
    [ -n "$path" ] || fail "$lib: not found by ldconfig"
    owner=$(dpkg -S "$(realpath "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null)
    owner=${owner%%:*}
    [ -n "$owner" ] || fail "$lib: no package owns $path"
    in_depends "$owner" || fail "$lib ($owner) is not in Depends"
done
for runtime in libqt6sql6-sqlite libqt6sql6-psql gstreamer1.0-plugins-base \
    gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-alsa timgm6mb-soundfont \
    fonts-wqy-microhei qt6-translations-l10n; do
    in_depends "$runtime" || fail "$runtime is not in Depends"
done
if grep -q -- '-dev$' <<<"$names"; then
    fail "a development package in Depends"
fi

if readelf -S "$program" | grep -q '\.debug_info\|\.symtab'; then
    fail "the packaged program is not stripped"
fi
"$program" --version | grep -qF "$version" || fail "the unpacked program does not run"
echo "the unpacked program runs: $("$program" --version)"

top=$(gzip -dc "$work/root/usr/share/doc/belvoran/changelog.gz" | head -n 1)
[[ $top == "belvoran ($version) "* ]] || fail "the changelog's last entry is not $version: $top"

for script in postinst prerm postrm; do
    dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - "./$script" >"$work/$script" ||
        fail "no $script"
    sh -n "$work/$script" || fail "$script is not valid sh"
done

desktop-file-validate "$work/root/usr/share/applications/belvoran.desktop" ||
    fail "the menu entry does not validate"
appstreamcli validate --no-net --pedantic \
    "$work/root/usr/share/metainfo/org.belvoran.belvoran.metainfo.xml" ||
    fail "the AppStream data do not validate"

# The unit against the unpacked tree, beside a copy of this system's units (the targets it
# names): its ExecStart and man page resolve there. No running systemd is needed, nor the
# belvoran user; the security figure is computed from the file alone.
if command -v systemd-analyze >/dev/null && [ -d /usr/lib/systemd/system ]; then
    cp -rn /usr/lib/systemd/system/. "$work/root/usr/lib/systemd/system/"
    MANPATH=$work/root/usr/share/man \
        systemd-analyze verify --root="$work/root" belvoran.service >"$work/verify.log" 2>&1
    status=$?
    if [ $status -ne 0 ] || [ -s "$work/verify.log" ]; then
        cat "$work/verify.log"
        fail "systemd-analyze verify: belvoran.service has faults (status $status)"
    fi
    echo "systemd-analyze verify: belvoran.service is clean"
    systemd-analyze security --offline=true --root="$work/root" belvoran.service | tail -n 1
else
    echo "SKIP systemd-analyze verify: no systemd-analyze or system units (package systemd)"
fi

# Errors fail; warnings and the rest are shown. Lintian's own notes on running as root and
# the like go to standard error.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup installs it)"
lintian --allow-root --display-info "$deb" >"$work/lintian.log" 2>"$work/lintian.err"
status=$?
cat "$work/lintian.log"
# 1: it found errors; more: it could not check.
[ $status -le 1 ] || { cat "$work/lintian.err"; fail "lintian did not run (status $status)"; }
if [ $status -ne 0 ] || grep -q '^E:' "$work/lintian.log"; then
    fail "lintian reports errors"
fi
echo "PASS: package $(basename "$deb") checked"
