#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests: `postgres.sh start DIR` makes a cluster in DIR and
# serves it on a Unix socket in DIR alone (no TCP, never the machine's own clusters or port 5432);
# `postgres.sh stop DIR` stops it and removes DIR. As root it runs as the user postgres, as
# PostgreSQL refuses root. A server outlives no run: should the process that started it (ctest)
# end without stopping it (--stop-on-failure, Ctrl-C), a watcher stops it within a second or two.
set -euo pipefail
action=$1
dir=$2
port=54329
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "PostgreSQL is not installed (no initdb under /usr/lib/postgresql): the PostgreSQL tests cannot run" >&2
    exit 1
fi
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
    as_owner=(runuser -u postgres --)
fi
case "$action" in
start)
    if [ -f "$dir/data/postmaster.pid" ]; then
        "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    [ "$(id -u)" -ne 0 ] || chown postgres "$dir"
    "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -A trust -U postgres --no-sync >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir' -p $port -c fsync=off -c max_connections=200" \
        start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
    # The watcher stops this server alone: a later run may have started another in the same folder.
    server=$(head -n 1 "$dir/data/postmaster.pid")
    starter=$PPID
    # A starter that has ended but is not yet reaped (a zombie) counts as ended.
    setsid bash -c 'while [ "$(sed "s/.*) //" "/proc/$1/stat" 2>/dev/null | cut -d " " -f 1)" != "" ] &&
                          [ "$(sed "s/.*) //" "/proc/$1/stat" | cut -d " " -f 1)" != Z ]; do sleep 1; done
        if [ "$(head -n 1 "$3/data/postmaster.pid" 2>/dev/null)" = "$2" ]; then "$4" stop "$3"; fi' \
        watcher "$starter" "$server" "$dir" "$(readlink -f "$0")" </dev/null >/dev/null 2>&1 &
    echo "PostgreSQL serves on $dir/.s.PGSQL.$port"
    ;;
stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
        # A server killed with its test run leaves a stale pid file: gone is as good as stopped.
        "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 ||
            ! "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" status >/dev/null 2>&1
    fi
    rm -rf "$dir"
    ;;
esac
