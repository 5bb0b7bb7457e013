#!/bin/bash
# Regenerates docs/coverage.md: the probe suite against mdindex, Tracker 3,
# Baloo and Recoll, each service running in a private session as the peer
# tests run them (tests/tools/findlark-check/peer_home.h): a home, XDG
# folders and TMPDIR under /var/tmp, a D-Bus session bus of its own, every
# daemon started here and stopped by its pid at the end. Nothing reaches the
# real home, the user's bus or the user's indexes.
#
#   bench/coverage/coverage.sh [BUILD] [TIMEOUT] > docs/coverage.md
#
# BUILD is the build folder (default build), TIMEOUT the check's deadline in
# seconds (default 180: Baloo paces its content indexer). Prints the
# document on stdout, progress on stderr.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
timeout=${2:-180}
root=$(mktemp -d /var/tmp/findlark-coverage-XXXXXX)
home=$root/home
pids=()

cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$root"
}
trap cleanup EXIT

# Polls a command until it succeeds or LIMIT seconds pass.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    if ((SECONDS >= end)); then
      echo "coverage: gave up waiting for: $*" >&2
      return 1
    fi
    sleep 0.2
  done
}

mkdir -p "$home/.config" "$home/.cache" "$home/.local/share" "$home/Documents" "$root/run" "$root/tmp" \
  "$root/index" "$root/volumes" "$home/.recoll"
chmod 700 "$root/run"
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache XDG_DATA_HOME=$home/.local/share
export XDG_RUNTIME_DIR=$root/run TMPDIR=$root/tmp LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export GSETTINGS_BACKEND=keyfile
export FINDLARK_INDEX_DIR=$root/index FINDLARK_VOLUMES_ROOT=$root/volumes FINDLARK_TOOL_DIR=$build/bin
printf 'XDG_DOCUMENTS_DIR="$HOME/Documents"\n' >"$home/.config/user-dirs.dirs"
printf '[Basic Settings]\nIndexing-Enabled=true\n\n[General]\nfolders[$e]=$HOME/Documents/\nonly basic indexing=false\n' \
  >"$home/.config/baloofilerc"
printf 'topdirs = ~/Documents\nmonixinterval = 1\nloglevel = 2\n' >"$home/.recoll/recoll.conf"

# The bus first: services it starts inherit its environment.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
pids+=("${bus##*$'\n'}")
gsettings set org.freedesktop.Tracker3.Miner.Files initial-sleep 0

echo "coverage: starting the services in $root" >&2
"$build/bin/mdindexd" --foreground >"$root/mdindexd.log" 2>&1 &
pids+=($!)
/usr/libexec/tracker-miner-fs-3 >"$root/tracker.log" 2>&1 &
pids+=($!)
baloo_file >"$root/baloo.log" 2>&1 &
pids+=($!)
recollindex -m -D -x -w 0 >"$root/recoll.log" 2>&1 &
pids+=($!)

miner_idle() {
  gdbus call --session --dest org.freedesktop.Tracker3.Miner.Files --object-path /org/freedesktop/Tracker3/Miner/Files \
    --method org.freedesktop.Tracker3.Miner.GetStatus | grep -q Idle
}
wait_for 60 "$build/bin/mdutil" -s
wait_for 60 miner_idle
wait_for 60 test -e "$home/.local/share/baloo/index"
wait_for 60 test -e "$home/.recoll/xapiandb"

echo "coverage: running the probe suite (deadline $timeout s)" >&2
start=$SECONDS
status=0
"$build/bin/findlark-check" --suite probes --index all --folder "$home/Documents" --format markdown \
  --timeout "$timeout" >"$root/table.md" || status=$?
took=$((SECONDS - start))
if ((status > 1)); then
  echo "coverage: findlark-check failed with status $status" >&2
  cat "$root/table.md" >&2
  exit 1
fi

version() { dpkg-query -W -f '${Version}' "$1" 2>/dev/null || echo "not installed"; }
commit=$(git -C "$(dirname "$0")" rev-parse --short HEAD 2>/dev/null || echo unknown)
sed "s|$home|~|g" <<EOF
# What the desktop indexes find: the probe suite

Each row is one probe of \`resources/probes\`: a small file that hides one word in one
place. Each column is one route of one index: the programming route (mdindex's
query, Tracker's SPARQL, Baloo's \`Baloo::Query\`, Recoll's Python module) and the
command-line route (\`mdfind\`, \`tracker3 search\`, \`baloosearch\`, \`recollq\`). A cell
is ✓ when that route found the probe by its word, the short reason of the miss when
it was expected to (see the reason codes in \`findlark-check --help\`), "–" when no
index is held to find it there (\`resources/probes/expectations.tsv\` says which
route a good index should find each probe by: document text from both routes, an
attribute such as a title or a file name from the command-line route), and "✓ (not
expected)" when it found one it was not held to.

Measured on Debian 12 (2 cores) with Findlark $commit, Tracker $(version tracker-miner-fs)
(tracker-extract $(version tracker-extract)), Baloo $(version baloo-kf5) (KFileMetaData
$(version libkf5filemetadata-bin)), Recoll $(version recollcmd); each service in a
private session over \`~/Documents\`, as the peer tests run them. One run took
$took s with a deadline of $timeout s.

Regenerate (after \`make build\`):

    bench/coverage/coverage.sh build $timeout > docs/coverage.md

which runs

    findlark-check --suite probes --index all --folder ~/Documents --format markdown --timeout $timeout

$(cat "$root/table.md")
EOF
