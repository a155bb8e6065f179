#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `cmake --install --strip` into a fresh prefix: the program without its debugging data, a
# menu entry that validates and whose Exec and Icon resolve inside the prefix.
#   install_prefix.sh BUILD_DIR
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; find "$prefix" | sed "s|^$prefix|  PREFIX|"; exit 1; }

cmake --install "$build" --prefix "$prefix" --strip >/dev/null || fail "cmake --install failed"

entry=$prefix/share/applications/belvoran.desktop
[ -f "$entry" ] || fail "no $entry"
desktop-file-validate "$entry" || fail "the menu entry does not validate"

exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$prefix/bin/$exec_name" ] || fail "Exec=$exec_name is not an installed program"
"$prefix/bin/$exec_name" --version >/dev/null || fail "the installed program does not run"
if readelf -S "$prefix/bin/$exec_name" | grep -q '\.debug_info'; then
    fail "--strip left the debugging data in the installed program"
fi

icon_name=$(sed -n 's/^Icon=//p' "$entry")
icon=$prefix/share/icons/hicolor/scalable/apps/$icon_name.svg
[ -s "$icon" ] || fail "Icon=$icon_name: no $icon"
grep -q '<svg' "$icon" || fail "$icon is not an SVG picture"
echo "PASS: program, menu entry and icon installed under a fresh prefix"
