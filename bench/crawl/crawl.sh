#!/bin/bash
# The service at scale: mdindexd's first crawl of N one-line files (500 to a
# folder), then a restart over the unchanged tree, `mdutil -s` and a
# rare-word `mdfind` against the index it made. Prints wall time, CPU time
# and peak resident memory of the service for the crawl and the restart.
# Everything lives in a scratch folder under /var/tmp, removed at the end;
# the service is started here and stopped by its pid. Asserts nothing.
#
#   bench/crawl/crawl.sh [BUILD] [N]      (defaults: build 1000000)
set -euo pipefail

bin=$(cd "${1:-build}" && pwd)/bin
count=${2:-1000000}
root=$(mktemp -d /var/tmp/findlark-crawl-XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT
export HOME=$root/home FINDLARK_INDEX_DIR=$root/index FINDLARK_VOLUMES_ROOT=$root/volumes XDG_RUNTIME_DIR=$root/run
mkdir -p "$HOME" "$FINDLARK_VOLUMES_ROOT" "$XDG_RUNTIME_DIR"

echo "making $count one-line files under $HOME/tree" >&2
python3 - "$HOME/tree" "$count" <<'PY'
import os, sys
top, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    if i % 500 == 0:
        d = os.path.join(top, "d%d" % (i // 500))
        os.makedirs(d)
    with open(os.path.join(d, "f%d.txt" % i), "w") as f:
        f.write("note %d %s\n" % (i, "quillwort" if i == n // 2 else "sedge"))
PY
folders=$(( (count + 499) / 500 ))
want=$(( count + folders + 1 ))  # files, their folders and the tree itself

# Seconds since the epoch, with nanoseconds; seconds since $1.
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
# The service's CPU seconds (user + system) and peak resident memory (MiB).
cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.1f", ($14 + $15) / hz }' "/proc/$pid/stat"; }
peak() { awk '/VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status"; }
# Waits until the service is idle with `want` items under the home folder.
settle() {
  while :; do
    local s
    s=$("$bin/mdutil" -s "$HOME" 2>/dev/null || true)
    if grep -q "idle" <<<"$s" && grep -q "Items indexed: $1\." <<<"$s"; then return; fi
    kill -0 "$pid" 2>/dev/null || { echo "mdindexd stopped" >&2; exit 1; }
    sleep 0.2
  done
}
run() {
  local label=$1 start
  start=$(now)
  "$bin/mdindexd" --foreground >>"$root/mdindexd.log" 2>&1 &
  pid=$!
  settle "$want"
  printf '%-30s %8.1f s  %6s s CPU  peak %6s MiB\n' "$label" "$(since "$start")" "$(cpu)" "$(peak)"
}
stop() { kill "$pid"; wait "$pid" || true; pid=; }

echo "files: $count in $folders folders"
run "first crawl"
stop
run "restart, tree unchanged"
start=$(now)
"$bin/mdutil" -s "$HOME" >/dev/null
printf '%-30s %8.3f s\n' "mdutil -s" "$(since "$start")"
start=$(now)
found=$("$bin/mdfind" quillwort | wc -l)
printf '%-30s %8.3f s  (%s found)\n' "mdfind rare word" "$(since "$start")" "$found"
printf '%-30s %8s\n' "index size" "$(du -sh "$FINDLARK_INDEX_DIR" | cut -f1)"
stop
