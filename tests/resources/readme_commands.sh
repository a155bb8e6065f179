#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's commands, run as a reader runs them, so that they cannot drift from the program.
# Each indented block of README.md follows a mark `<!-- readme: NAME -->` (the first block,
# the two commands at the top, needs none); a block without one fails this test. A block is
# run as written, in a home, runtime folder and PostgreSQL server of the test's own. What
# would reach outside the test is stood in for, and said so below: `sudo` runs as this user
# (as `postgres` against the private server), `apt install` only resolves the package
# (--simulate), `systemctl` starts the unit's ExecStart itself (no systemd runs here), the
# service's `/run/belvoran` and `/var/lib/belvoran` are folders of the test's, server names
# are the private server's, and sound goes to a fake sink (no sound card here).
#   readme_commands.sh SOURCE_DIR BUILD_DIR
set -u
src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    [ -n "${pgdata:-}" ] && as_pg "$pgbin/pg_ctl" -D "$pgdata" -m immediate -w stop >/dev/null 2>&1
    [ -n "${README_TEST_KEEP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for f in "$tmp"/*.log; do [ -s "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }; done
    exit 1
}

# --- the README's blocks, by name -------------------------------------------------------
mkdir -p "$tmp/blocks"
awk -v out="$tmp/blocks" '
    /^<!-- readme: [a-z-]+ -->$/ { name = $3; next }
    /^    / {
        if (!inblock) {
            inblock = 1; count++
            if (name == "" && count == 1) name = "first-lines"
            if (name == "") { print "unmarked block at line " NR ": " $0; bad = 1; name = "unmarked" }
            file = out "/" (name == "text" ? "text." count : name); name = ""
        }
        print substr($0, 5) >> file; next
    }
    /^[[:space:]]*$/ { if (inblock) print "" >> file; next }
    { inblock = 0 }
    END { exit bad }' "$src/README.md" || fail "every indented block of README.md needs a mark"
block() {
    [ -f "$tmp/blocks/$1" ] || fail "README.md has no block marked $1"
    sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' "$tmp/blocks/$1" # without trailing blank lines
}
ran=()
done_with() { ran+=("$1"); echo "PASS: $1"; }

# --- a home, a runtime folder, and stand-ins on PATH ------------------------------------
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run XDG_DATA_HOME= XDG_CONFIG_HOME=
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$tmp/bin" "$tmp/service-run" "$tmp/service-state"
chmod 700 "$XDG_RUNTIME_DIR" "$tmp/service-run"
export QT_QPA_PLATFORM=offscreen BELVORAN_AUDIO_SINK="fakesink sync=true"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
unset PGHOST PGPORT PGUSER PGDATABASE PGSERVICE PGPASSWORD NOTIFY_SOCKET
ln -s "$build/app/belvoran" "$tmp/bin/belvoran"
export PATH=$tmp/bin:$PATH TEST_TMP=$tmp
cat >"$tmp/bin/sudo" <<'EOF'
#!/usr/bin/env bash
# sudo as the README uses it: -u postgres is the private server's superuser, -u belvoran the
# service's user (its runtime folder the test's), apt install resolves without installing.
user=
[ "${1:-}" = -u ] && { user=$2; shift 2; }
case $user in
postgres) exec env PGHOST="$TEST_PGHOST" PGPORT="$TEST_PGPORT" PGUSER=postgres \
    PGPASSWORD=superuser "$@" ;;
belvoran) exec env "${@//\/run\/belvoran/$TEST_TMP/service-run}" ;;
esac
[ "$1 ${2:-}" = "apt install" ] && { shift 2; exec apt-get install --simulate "$@"; }
exec "$@"
EOF
cat >"$tmp/bin/systemctl" <<'EOF'
#!/usr/bin/env bash
# No systemd runs here: "enable --now" starts the unit's ExecStart as the unit would (its
# folders the test's), "status" says whether it runs.
unit=$TEST_SRC/resources/package/belvoran.service
case "$*" in
"enable --now belvoran")
    systemd-analyze verify "$unit" 2>&1 | grep -v 'Failed to\|is not executable' || true
    cmd=$(sed -n 's/^ExecStart=//p' "$unit" | sed -e 's|^/usr/bin/belvoran|belvoran|' \
        -e "s|/var/lib/belvoran|$TEST_TMP/service-state|")
    XDG_RUNTIME_DIR=$TEST_TMP/service-run setsid $cmd >"$TEST_TMP/service.log" 2>&1 &
    echo $! >"$TEST_TMP/service.pid" ;;
"status belvoran")
    pid=$(cat "$TEST_TMP/service.pid" 2>/dev/null) && kill -0 "$pid" 2>/dev/null &&
        echo "belvoran.service: active (running), pid $pid" ;;
*) echo "systemctl stand-in: $* is not in the README"; exit 1 ;;
esac
EOF
cat >"$tmp/bin/journalctl" <<'EOF'
#!/usr/bin/env bash
[ "$*" = "-u belvoran" ] && exec cat "$TEST_TMP/service.log"
echo "journalctl stand-in: $* is not in the README"; exit 1
EOF
chmod +x "$tmp/bin/"*
export TEST_SRC=$src

# Waits until a copy answers `belvoran status` in the runtime folder $1; fails naming $2.
await_copy() {
    for _ in $(seq 1 600); do
        XDG_RUNTIME_DIR=$1 belvoran status >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    fail "$2: no copy answered belvoran status"
}
# Starts the command line $2 in the background (its output in $tmp/$1.log) and waits until
# the copy it starts answers; its process id in $pid.
start_copy() {
    eval "exec $2" >"$tmp/$1.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    await_copy "$XDG_RUNTIME_DIR" "$2"
}
# Ends the copy with process id $1 as logout would (SIGTERM): it must exit cleanly.
end_copy() {
    kill -TERM "$1"
    wait "$1" || fail "the copy ended with status $? on SIGTERM"
}

cd "$src" || exit 1
# --- the first lines: scripts/test is what CI runs (.ci/run); scripts/run starts a copy on
# the default store
grep -qx 'exec scripts/test' .ci/run || fail ".ci/run does not run scripts/test"
[ "$(block first-lines | sed -n '1s/ .*//p;2s/ .*//p' | tr '\n' ' ')" = "scripts/run scripts/test " ] ||
    fail "the README does not begin with scripts/run and scripts/test"
start_copy run scripts/run
[ -f "$HOME/.local/share/Belvoran/Music.db" ] || fail "scripts/run made no default store"
end_copy "$pid"
done_with first-lines

# --- a store of its own
start_copy try "$(block try-store)"
[ -f "$HOME/belvoran-try.db" ] || fail "scripts/run --database made no store there"
end_copy "$pid"
done_with try-store

# --- a bell by hand, on today's weekday (the README's is Monday's) with a file that plays
weekday=$(echo 星期一 星期二 星期三 星期四 星期五 星期六 星期日 | cut -d' ' -f"$(date +%u)")
gst-launch-1.0 -q audiotestsrc num-buffers=20 ! wavenc ! filesink location="$tmp/上课铃.wav" ||
    fail "no test sound"
eval "$(block sqlite-insert | sed -e "s/星期一/$weekday/" -e "s|/home/school/bells|$tmp|")" ||
    fail "the sqlite3 INSERT failed"
[ "$(sqlite3 "$HOME/.local/share/Belvoran/Music.db" "SELECT count(*) FROM 作息表")" = 1 ] ||
    fail "the INSERT left no row"
done_with sqlite-insert

[ "$(block usage)" = "$(belvoran --help | sed -n '/^Usage:/,/^$/p' | sed '$d')" ] ||
    fail "the README's usage lines are not what belvoran --help prints"
done_with usage

# --- asking the running copy: each line as written, [--json] both ways, NAME the bell above
start_copy remote-copy scripts/run
while read -r line; do
    variants=("$line")
    [[ $line == *"[--json]"* ]] && variants=("${line/ \[--json\]/}" "${line/\[--json\]/--json}")
    for cmd in "${variants[@]}"; do
        cmd=${cmd/NAME/上课}
        eval "$cmd" >"$tmp/remote.log" 2>&1 || fail "$cmd: status $?"
    done
done < <(block remote)
grep -q '"ok":true' <(belvoran status --json) || fail "status --json does not answer ok"
end_copy "$pid"
done_with remote

# --- the central timetable on a private PostgreSQL server, with TLS as the district has it
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_pg() { if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }
mkdir -p "$tmp/pg"
echo superuser >"$tmp/pg/pw"
(
    cd "$tmp/pg" || exit 1
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=district-ca -keyout ca.key \
        -out ca.crt -addext basicConstraints=critical,CA:TRUE
    openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key -out server.csr
    printf 'subjectAltName=DNS:localhost\n' >ext
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
        -extfile ext -out server.crt
    chmod 600 server.key
) >"$tmp/openssl.log" 2>&1 || fail "no certificates"
[ "$(id -u)" = 0 ] && chown -R nobody "$tmp/pg" && chmod 755 "$tmp"
pgdata=$tmp/pg/data
export TEST_PGHOST=$tmp/pg
as_pg "$pgbin/initdb" -D "$pgdata" -U postgres --pwfile="$tmp/pg/pw" -A scram-sha-256 -E UTF8 \
    >"$tmp/initdb.log" 2>&1 || fail "initdb failed"
block pg-hba | sed 's|10.20.0.0/16|127.0.0.1/32|' >"$tmp/hba"
cat "$tmp/hba" "$pgdata/pg_hba.conf" >"$tmp/pg/hba.all" && cp "$tmp/pg/hba.all" "$pgdata/pg_hba.conf"
for _ in 1 2 3 4 5; do # a port another program holds: another one
    export TEST_PGPORT=$((20000 + RANDOM % 20000))
    as_pg "$pgbin/pg_ctl" -D "$pgdata" -w -l "$tmp/pg/server.log" -o "-p $TEST_PGPORT \
        -k $TEST_PGHOST -c listen_addresses=localhost -c ssl=on \
        -c ssl_cert_file=$tmp/pg/server.crt -c ssl_key_file=$tmp/pg/server.key" start \
        >/dev/null && break
done
as_pg "$pgbin/pg_ctl" -D "$pgdata" status >/dev/null || fail "the server did not start"

printf 'ownerpw\nownerpw\n' | setsid -w bash -c "$(block server-roles)" >"$tmp/roles.log" 2>&1 ||
    fail "the server's roles were not made"
done_with server-roles
printf '*:*:belvoran:belvoran_owner:ownerpw\n' >"$HOME/.pgpass" && chmod 600 "$HOME/.pgpass"
eval "$(block central-schema | sed "s|host=server.school.example|host=$TEST_PGHOST port=$TEST_PGPORT|")" \
    >"$tmp/schema.log" 2>&1 || fail "central-schema failed"
done_with central-schema
block site-accounts | sed -n '1p' >"$tmp/psql.cmd"
block site-accounts | sed -e '1d' -e "s/'…'/'secret'/" |
    bash -c "$(cat "$tmp/psql.cmd") -v ON_ERROR_STOP=1" >"$tmp/accounts.log" 2>&1 ||
    fail "the site and accounts were not made"
done_with site-accounts

# The computer's own connection over TLS, verified against the district's CA.
block pg-service | sed -e "s|server.school.example|localhost\nport=$TEST_PGPORT|" \
    -e "s|/etc/belvoran/district-ca.crt|$tmp/pg/ca.crt|" >"$HOME/.pg_service.conf"
block pgpass | sed "s|server.school.example:5432|localhost:$TEST_PGPORT|" >"$HOME/.pgpass"
chmod 600 "$HOME/.pgpass"
start_copy follow "belvoran --central belvoran --site 一号楼"
copied() {
    sqlite3 "$HOME/.local/share/Belvoran/Music.db" "SELECT count(*) FROM 记忆 WHERE 名称='中心副本时间'"
}
for _ in $(seq 1 100); do [ "$(copied)" = 1 ] && break; sleep 0.2; done
[ "$(copied)" = 1 ] || fail "the computer did not copy its site"
end_copy "$pid"
done_with "pg-hba pg-service pgpass"

# --- building by hand: the same folders scripts/test makes, so only once both exist (the
# sanitizer pass); each ctest runs one short test, as the whole suite is what runs this
if [ -f build/CMakeCache.txt ] && [ -f build-asan/CMakeCache.txt ]; then
    ctest() { command ctest "$@" -R '^test_time_box$'; }
    eval "$(block by-hand)" >"$tmp/by-hand.log" 2>&1 || fail "building by hand failed"
    unset -f ctest
    done_with by-hand
else
    echo "SKIP: by-hand (it needs build/ and build-asan/, as scripts/test makes them)"
fi

eval "$(block install)" >"$tmp/install.log" 2>&1 || fail "cmake --install failed"
for f in bin/belvoran share/applications/belvoran.desktop \
    share/icons/hicolor/scalable/apps/belvoran.svg share/icons/hicolor/48x48/apps/belvoran.png \
    share/metainfo/org.belvoran.belvoran.metainfo.xml share/man/man1/belvoran.1 \
    lib/systemd/system/belvoran.service lib/sysusers.d/belvoran.conf; do
    ls "$HOME/.local/$f"* >/dev/null 2>&1 || fail "cmake --install left out $f"
done
done_with install

eval "$(block package)" >"$tmp/package.log" 2>&1 || fail "the package was not made or resolves no install"
done_with package

# --- the service: started from its unit, asked through its runtime folder, its log read
while read -r line; do
    [ -z "$line" ] && continue
    eval "$line" >"$tmp/service-cmd.log" 2>&1 || fail "$line: status $?"
    case $line in *"enable --now"*)
        pids+=("$(cat "$tmp/service.pid")")
        await_copy "$tmp/service-run" "the service" ;;
    esac
done < <(block service)
grep -q '"ok":true\|next' <(XDG_RUNTIME_DIR=$tmp/service-run belvoran status --json) ||
    fail "the service's copy does not answer"
[ -f "$tmp/service-state/Music.db" ] || fail "the service made no store in its state folder"
grep -q "ready:" "$tmp/service.log" || fail "the service's log has no ready line"
done_with service

# --- the layout names the folders there are
for folder in $(block layout | sed -n 's|^\([a-z/]*\)/ .*|\1|p'); do
    [ -d "$src/$folder" ] || fail "the layout names $folder/, which does not exist"
done
done_with layout
echo "PASS: ${#ran[@]} README blocks run"
