#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bench_start as an ordinary user (nobody), with RealtimeKit and without, on a system bus of
# its own: the bus, a polkit authority that says yes (as a desktop session's does for
# RealtimeKit's action) and rtkit-daemon with its default limits. Run as root from the
# build folder:  ../bench/start_unprivileged.sh [idle|busy|both] [events per kind] [zones gap]
# With RealtimeKit it ends with what rtkit-daemon said: threads raised, requests refused.
set -euo pipefail
build=$PWD
dir=$(mktemp -d)
chmod 755 "$dir"
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$dir"' EXIT
cat > "$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=$dir/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
<allow receive_sender="*"/></policy></busconfig>
CONF
dbus-daemon --nofork --config-file="$dir/bus.conf" 2>/dev/null &
sleep 0.5
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/bus
"$build/tests/audio/realtime_kit_helper" authority >/dev/null &
# rtkit-daemon limits its own file size to 0: its messages go through a pipe.
/usr/libexec/rtkit-daemon --no-canary --stderr 2>&1 | cat >"$dir/rtkit.log" &
sleep 1
echo "== an ordinary user with RealtimeKit"
runuser -u nobody -- env DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" HOME=/tmp \
    "$build/bench/bench_start" "$@" 2> >(grep -E 'audio threads|RealtimeKit' >&2)
sleep 0.5
echo "rtkit-daemon: $(grep -c 'Successfully made thread' "$dir/rtkit.log") threads raised," \
    "$(grep -c 'burst limit' "$dir/rtkit.log") requests refused"
grep -m 3 'burst limit' "$dir/rtkit.log" || true
# rtkit-daemon's own last words on the run, quoted as it said them.
grep -E 'Successfully made thread|Supervising' "$dir/rtkit.log" | tail -n 2 | sed 's/^/  rtkit: /'
echo "== an ordinary user without (no RealtimeKit on the bus)"
runuser -u nobody -- env DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/none HOME=/tmp \
    "$build/bench/bench_start" "$@" 2> >(grep -E 'audio threads' >&2)
