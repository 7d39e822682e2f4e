#!/bin/sh
# Throwaway PostgreSQL cluster for the store tests, reachable on 127.0.0.1 only.
#
#   tools/pg-test-cluster.sh start DIR PORT   initialise (if needed) and start a cluster in DIR,
#                                             create the database "bwtest", print its connection string
#   tools/pg-test-cluster.sh stop DIR         stop the cluster in DIR
#
# The server refuses to run as root, so when started by root the cluster belongs to the
# "postgres" user (DIR and its parents must be reachable by that user; /tmp is a good place).
# Authentication is "trust" (but for the role bw_pgpass and the members of bw_signin, which the
# tests give passwords):
# never point this at anything but a scratch directory.
set -eu

usage() {
    echo "usage: $0 start DIR PORT | stop DIR" >&2
    exit 2
}

pg_bindir() {
    d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    if [ -z "$d" ] || [ ! -x "$d/initdb" ]; then
        if [ "$(id -u)" = 0 ]; then
            echo "PostgreSQL server not found, installing it" >&2
            DEBIAN_FRONTEND=noninteractive apt-get install -y postgresql >&2
            d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
        fi
    fi
    if [ -z "$d" ] || [ ! -x "$d/initdb" ]; then
        echo "PostgreSQL server binaries not found (apt-get install -y postgresql)" >&2
        exit 1
    fi
    echo "$d"
}

# Runs a command as the cluster's owner: "postgres" when we are root, else ourselves.
as_owner() {
    if [ "$(id -u)" = 0 ]; then
        if command -v runuser >/dev/null 2>&1; then
            runuser -u postgres -- "$@"
        else
            su postgres -s /bin/sh -c "$(printf '%s ' "$@")"
        fi
    else
        "$@"
    fi
}

owner_name() {
    if [ "$(id -u)" = 0 ]; then echo postgres; else id -un; fi
}

cmd=${1:-}
case "$cmd" in
start)
    [ $# -eq 3 ] || usage
    dir=$2
    port=$3
    bin=$(pg_bindir)
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    if [ "$(id -u)" = 0 ]; then
        chown postgres "$dir"
    fi
    user=$(owner_name)
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        as_owner "$bin/initdb" -D "$dir/data" -U "$user" -A trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 || {
            cat "$dir/initdb.log" >&2
            exit 1
        }
    fi
    # One role signs in with a password, so the tests can show a password file at work, and
    # the operators' roles that the tests make members of bw_signin sign in with theirs.
    hba=$dir/data/pg_hba.conf
    if ! grep -q bw_signin "$hba"; then
        { echo "host all bw_pgpass 127.0.0.1/32 scram-sha-256"
          echo "host all +bw_signin 127.0.0.1/32 scram-sha-256"
          grep -v bw_pgpass "$hba"; } >"$hba.new"
        cat "$hba.new" >"$hba" && rm -f "$hba.new"
        as_owner "$bin/pg_ctl" -D "$dir/data" reload >/dev/null 2>&1 || true
    fi
    if ! as_owner "$bin/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
            -o "-c listen_addresses=127.0.0.1 -p $port -k $dir/data -c fsync=off" start >&2 || {
            cat "$dir/server.log" >&2
            exit 1
        }
    fi
    # Ready means it accepts connections on the loopback port (bounded wait).
    i=0
    until as_owner "$bin/pg_isready" -h 127.0.0.1 -p "$port" -q; do
        i=$((i + 1))
        if [ $i -ge 60 ]; then
            echo "server on 127.0.0.1:$port did not become ready" >&2
            exit 1
        fi
        sleep 0.5
    done
    if ! as_owner "$bin/psql" -h 127.0.0.1 -p "$port" -U "$user" -d postgres -tAc \
        "SELECT 1 FROM pg_database WHERE datname='bwtest'" | grep -q 1; then
        as_owner "$bin/createdb" -h 127.0.0.1 -p "$port" -U "$user" bwtest
    fi
    as_owner "$bin/psql" -h 127.0.0.1 -p "$port" -U "$user" -d postgres -qtAc \
        "DO \$\$BEGIN CREATE ROLE bw_signin NOLOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END\$\$" >/dev/null
    echo "postgresql://$user@127.0.0.1:$port/bwtest"
    ;;
stop)
    [ $# -eq 2 ] || usage
    dir=$(cd "$2" && pwd)
    bin=$(pg_bindir)
    if [ -f "$dir/data/PG_VERSION" ]; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >&2 || true
    fi
    ;;
*)
    usage
    ;;
esac
