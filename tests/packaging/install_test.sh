#!/usr/bin/env bash
# What an install puts beside the programs, checked in a staged install
# (DESTDIR, prefix /usr, as the Debian package has it):
# - the session unit's ExecStart names the installed mdindexd, which stays in
#   the foreground as the unit's main process at the unit's Nice=, stops
#   cleanly on SIGTERM, and
#   keeps `mdutil -i off` across a restart; a second copy leaves at once;
# - the autostart entry names installed programs;
# - the manual pages render without a warning and carry NAME and SYNOPSIS;
# - the bash completion loads and completes options, attributes, folders and
#   index names, and offers exactly the options each --help lists; the zsh
#   one loads;
# - every option a tool's --help lists is in its docs/tools page.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -u
# No pipefail: a grep -q that has its answer may close the pipe on the writer.
build=$1 source=$2
scratch=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

stage=$scratch/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr --component findlark >/dev/null || { echo "FAIL: staged install"; exit 1; }
bin=$stage/usr/bin

# Runs with a home, index and runtime folder of the test's own.
export HOME=$scratch/home FINDLARK_INDEX_DIR=$scratch/index FINDLARK_VOLUMES_ROOT=$scratch/volumes \
  XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/home/.config XDG_CACHE_HOME=$scratch/home/.cache
mkdir -p "$HOME/notes" "$FINDLARK_VOLUMES_ROOT" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
echo "wheatear" >"$HOME/notes/bird.txt"

# Waits up to 120 s for a command to succeed.
wait_for() {
  local deadline=$((SECONDS + 120))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

# ---- the unit --------------------------------------------------------------
unit=$stage/usr/lib/systemd/user/mdindexd.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
read -r -a argv <<<"$exec_start"
if [ "${argv[0]}" = /usr/bin/mdindexd ] && [ -x "$stage${argv[0]}" ]; then pass "ExecStart runs the installed mdindexd"
else fail "ExecStart is '$exec_start'"; fi
grep -q '^WantedBy=graphical-session.target$' "$unit" && pass "the unit comes with the graphical session" \
  || fail "the unit is not wanted by graphical-session.target"

# Started at the unit's Nice=, which the service keeps rather than adds to.
unit_nice=$(sed -n 's/^Nice=//p' "$unit")
start_service() {
  nice -n "$unit_nice" "$stage${argv[0]}" "${argv[@]:1}" >"$scratch/service.out" 2>&1 &
  service=$!
  pids+=("$service")
}
# The unit's main process must be the service itself: mdutil names our pid.
running_as_started() { "$bin/mdutil" -s 2>/dev/null | grep -q "Service: running (pid $service"; }
stop_service() {
  kill -TERM "$service"
  wait "$service"
}
start_service
if wait_for running_as_started; then pass "ExecStart's mdindexd stays in the foreground"
else fail "the service did not run as the started process: $(cat "$scratch/service.out")"; fi
# nice -n adds to the test's own niceness, as Nice= sets it for the unit.
expected=$(( $(nice) + unit_nice ))
[ $expected -gt 19 ] && expected=19
niceness=$(awk '{print $19}' "/proc/$service/stat")
[ "$niceness" = "$expected" ] && pass "it keeps the nice it was started at ($expected)" \
  || fail "nice $niceness, started at $expected"

"$bin/mdindexd" --foreground >"$scratch/second.out" 2>&1
status=$?
if [ $status = 0 ] && grep -q "already running (pid $service)" "$scratch/second.out"; then pass "a second copy leaves at once"
else fail "a second copy: exit $status, $(cat "$scratch/second.out")"; fi

"$bin/mdutil" -i off >/dev/null || fail "mdutil -i off"
stop_service
status=$?
[ $status = 0 ] && pass "SIGTERM stops it with exit status 0" || fail "SIGTERM: exit status $status"

start_service
wait_for running_as_started || fail "the service did not start again"
if "$bin/mdutil" -s | grep -q "Indexing disabled."; then pass "mdutil -i off holds across a restart"
else fail "indexing is on again after a restart: $("$bin/mdutil" -s)"; fi
"$bin/mdutil" -i on >/dev/null
stop_service

# ---- the autostart entry ---------------------------------------------------
autostart=$stage/etc/xdg/autostart/findlark-mdindexd.desktop
for key in Exec TryExec; do
  program=$(sed -n "s/^$key=//p" "$autostart")
  [ -x "$stage$program" ] && pass "the autostart $key names an installed program" || fail "autostart $key=$program"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$autostart" && pass "the autostart entry validates" || fail "desktop-file-validate"
fi

# ---- manual pages ----------------------------------------------------------
for page in "$stage"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>"$scratch/man.err")
  if [ -s "$scratch/man.err" ]; then fail "$name(1) renders with warnings: $(cat "$scratch/man.err")"
  elif ! grep -A1 '^NAME' <<<"$text" | grep -qE "^ +$name +- "; then
    fail "$name(1) has no NAME line"
  elif [ "$name" != findlark ] && ! grep -q "^SYNOPSIS" <<<"$text"; then fail "$name(1) has no SYNOPSIS"
  else pass "$name(1) renders"; fi
done
for tool in mdfind mdimport mdls mdutil mdindexd findlark-check findlark; do
  [ -f "$stage/usr/share/man/man1/$tool.1.gz" ] || fail "no manual page for $tool"
done

# ---- bash completion -------------------------------------------------------
completions=$stage/usr/share/bash-completion/completions
# complete TOOL WORD...: what TAB offers for the last WORD, one per line.
complete_line() {
  local tool=$1
  shift
  PATH="$bin:$PATH" bash --norc --noprofile -c '
    source "$1"; tool=$2; shift 2
    COMP_WORDS=("$tool" "$@"); COMP_CWORD=$#
    spec=$(complete -p "$tool") || exit 1
    fn=${spec#*-F }; fn=${fn%% *}
    "$fn"; printf "%s\n" "${COMPREPLY[@]}"' _ "$completions/$tool" "$tool" "$@"
}
offers() {  # offers EXPECTED TOOL WORD...
  local expected=$1
  shift
  if complete_line "$@" | grep -qxF -- "$expected"; then pass "completing '$*' offers $expected"
  else fail "completing '$*' does not offer $expected: $(complete_line "$@" | tr '\n' ' ')"; fi
}
offers -onlyin mdfind -on
offers kMDItemFSName mdfind -attr kMDItemFS
offers kMDItemAuthors mdls -name kMDItemAu
offers "$HOME/notes" mdfind -onlyin "$HOME/no"
offers mdindex findlark-check --index md
offers off mdutil -ai o
offers PlainText mdimport -r Pl
# The options offered are exactly those --help lists (-h/--help aside).
for tool in mdfind mdimport mdls mdutil mdindexd findlark-check; do
  dash=-
  [[ $tool = mdindexd || $tool = findlark-check ]] && dash=--
  offered=$(complete_line "$tool" "$dash" | grep -vxE -- '-h|--help|--' | sort -u)
  help=$("$bin/$tool" --help 2>&1)
  listed=$(grep -oE '^[[:space:]]+-{1,2}[A-Za-z0-9][-A-Za-z0-9]*' <<<"$help" | tr -d ' \t' | grep -vxE -- '-h|--help' | sort -u)
  missing=$(comm -13 <(echo "$offered") <(echo "$listed"))
  unknown=$(for o in $offered; do grep -qE -- "(^|[^-A-Za-z0-9])$o([^-A-Za-z0-9]|$)" <<<"$help" || echo "$o"; done)
  if [ -z "$missing$unknown" ]; then pass "$tool: completion offers the options of --help"
  else fail "$tool: completion lacks [$missing] and offers unlisted [$unknown]"; fi
done

# zsh: the completion parses and compinit gives it every tool.
zsh_dir=$stage/usr/share/zsh/vendor-completions
if command -v zsh >/dev/null; then
  if zsh -n "$zsh_dir/_findlark" && zsh -fc 'fpath=("$1" $fpath); autoload -U compinit; compinit -u -D
      for t in mdfind mdimport mdls mdutil mdindexd findlark-check; do [[ $_comps[$t] == _findlark ]] || exit 1; done' _ "$zsh_dir"
  then pass "zsh completion loads for every tool"
  else fail "zsh completion"; fi
fi

# ---- docs/tools pages ------------------------------------------------------
for page in "$source"/docs/tools/*.md; do
  tool=$(basename "$page" .md)
  for option in $("$bin/$tool" --help 2>&1 | grep -oE '^[[:space:]]+-{1,2}[A-Za-z0-9][-A-Za-z0-9]*'); do
    grep -qF -- "\`$option" "$page" || fail "docs/tools/$tool.md does not describe $option"
  done
done

[ $failures = 0 ] && echo "all install checks passed" || echo "$failures install checks failed"
exit $((failures > 0))
