#!/usr/bin/env bash
# The tests' own PostgreSQL 15 server: made in a folder of its own under /tmp (short,
# since a Unix socket's path is at most 107 bytes), listening on a Unix socket in that
# folder only and on no TCP port, trusting every connection to it as the superuser
# horavo; stopped and removed again afterwards. initdb and pg_ctl refuse root: as root
# (CI), the server runs as nobody, which owns its folder.
#
# Usage: tools/pg-test-server.sh start STATE
#          stops a server left in STATE by an earlier run, starts one, and writes
#          STATE/conninfo (libpq's connection string of its postgres database) and
#          STATE/server (its folder). Where PostgreSQL's server is not installed, writes
#          why to STATE/unavailable and exits 77 (skipped), or 1 when CI is set.
#        tools/pg-test-server.sh stop STATE
#          stops the server of STATE, removes its folder and STATE; fails when either
#          is still there afterwards.
# STATE is a folder of the caller's: CTest's is pgserver/ in the build tree.
# HORAVO_PG_BINDIR, when set, is the one folder where PostgreSQL's server is looked for.
set -euo pipefail

port=5432
server_folder_pattern='/tmp/horavo-pg.??????'

usage() {
  echo "usage: $0 start|stop STATE" >&2
  exit 2
}

server_bindir() {
  local dir candidates=(/usr/lib/postgresql/15/bin "$(pg_config --bindir 2>/dev/null || true)")
  [ -z "${HORAVO_PG_BINDIR:-}" ] || candidates=("$HORAVO_PG_BINDIR")
  for dir in "${candidates[@]}"; do
    if [ -n "$dir" ] && [ -x "$dir/initdb" ] && [ -x "$dir/pg_ctl" ] && [ -x "$dir/postgres" ]; then
      echo "$dir"
      return 0
    fi
  done
  return 1
}

in_ci() {
  case "${CI:-}" in
    "" | 0 | false) return 1 ;;
    *) return 0 ;;
  esac
}

as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups "$@"
  else
    "$@"
  fi
}

postmaster_pid() {
  local pid_file=$1/data/postmaster.pid
  [ -f "$pid_file" ] && head -n 1 "$pid_file"
}

# Whether PID is the postmaster of the server in folder SERVER (not a reused pid).
is_postmaster_of() {
  local pid=$1 server=$2
  [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$server/data"
}

# The server's other processes end by themselves when they see the postmaster gone.
kill_postmaster() {
  local server=$1 pid
  pid=$(postmaster_pid "$server") || return 0
  is_postmaster_of "$pid" "$server" || return 0
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    is_postmaster_of "$pid" "$server" || return 0
    sleep 0.1
  done
}

stop_server() {
  local state=$1 server bindir pid
  if [ -f "$state/server" ]; then
    server=$(cat "$state/server")
    # shellcheck disable=SC2053 # the folder must match the pattern: it is removed
    if [[ "$server" != $server_folder_pattern ]]; then
      echo "pg_server: $state/server names $server, not a server folder of this script's" >&2
      exit 1
    fi
    if pid=$(postmaster_pid "$server") && is_postmaster_of "$pid" "$server"; then
      if ! bindir=$(server_bindir) ||
        ! (cd "$server" && as_server_user "$bindir/pg_ctl" stop -D "$server/data" -m fast -w -t 30 >/dev/null); then
        kill_postmaster "$server"
      fi
    fi
    rm -rf "$server"
    if [ -e "$server" ]; then
      echo "pg_server: could not remove the server's folder $server" >&2
      exit 1
    fi
    if [ -n "${pid:-}" ] && is_postmaster_of "$pid" "$server"; then
      echo "pg_server: the server in $server (pid $pid) is still running" >&2
      exit 1
    fi
  fi
  rm -rf "$state"
  if [ -e "$state" ]; then
    echo "pg_server: could not remove $state" >&2
    exit 1
  fi
}

say_unavailable() {
  local state=$1 reason
  reason="PostgreSQL's server (initdb, pg_ctl, postgres) is installed neither in ${HORAVO_PG_BINDIR:-/usr/lib/postgresql/15/bin nor in pg_config --bindir}; tools/install-packages.sh test installs it"
  mkdir -p "$state"
  echo "$reason" >"$state/unavailable"
  echo "pg_server: not started: $reason"
  if in_ci; then
    echo "pg_server: CI is set: the tests that need the server cannot run" >&2
    exit 1
  fi
  exit 77
}

write_config() {
  local server=$1
  cat >>"$server/data/postgresql.conf" <<EOF

# tools/pg-test-server.sh: a Unix socket in the server's folder only, no TCP; durability
# traded for speed (the server is removed after the tests).
listen_addresses = ''
unix_socket_directories = '$server'
port = $port
cluster_name = 'horavo-test'
shared_buffers = 16MB
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
}

# On a failed start: what initdb and the server said, and nothing left behind.
clean_up_failed_start() {
  local status=$? state=$1 server=$2 log
  [ "$status" -ne 0 ] || return 0
  for log in "$server/initdb.log" "$server/server.log"; do
    [ -f "$log" ] && { echo "--- $log"; cat "$log"; } >&2
  done
  stop_server "$state" || true
}

start_server() {
  local state=$1 bindir server
  stop_server "$state"
  bindir=$(server_bindir) || say_unavailable "$state"
  mkdir -p "$state"
  server=$(mktemp -d /tmp/horavo-pg.XXXXXX)
  echo "$server" >"$state/server"
  # shellcheck disable=SC2064 # the folders now: the trap runs after the locals are gone
  trap "clean_up_failed_start $(printf '%q %q' "$state" "$server")" EXIT
  [ "$(id -u)" -ne 0 ] || chown nobody:"$(id -g nobody)" "$server"
  cd "$server"
  as_server_user "$bindir/initdb" -D "$server/data" --auth=trust -U horavo \
    --encoding=UTF8 --locale=C.UTF-8 --no-sync >"$server/initdb.log" 2>&1
  write_config "$server"
  as_server_user "$bindir/pg_ctl" start -D "$server/data" -l "$server/server.log" -w -t 60 >/dev/null
  # Reachable by the caller's processes (root's, in CI), not only by the server's user.
  "$bindir/pg_isready" -q -h "$server" -p "$port" -U horavo -d postgres -t 30
  trap - EXIT
  echo "host=$server port=$port user=horavo dbname=postgres" >"$state/conninfo"
  echo "pg_server: started in $server as $(as_server_user id -un), no TCP port"
}

[ $# -eq 2 ] || usage
state=$(realpath -m "$2")
case "$1" in
  start) start_server "$state" ;;
  stop) stop_server "$state" ;;
  *) usage ;;
esac
