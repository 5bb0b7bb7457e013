# bash completion for the Findlark tools: mdfind, mdimport, mdls, mdutil,
# mdindexd and findlark-check. Options; attribute names after -attr and
# -name (from `mdimport -A`); importer names after -r (from `mdimport -L`);
# folders after -onlyin, --folder and --audit; saved searches after -s;
# volumes after -V; index names after --index.

# Completes the current word from a word list; a word list's entries may hold
# no spaces.
_findlark_words() {
  local IFS=$' \t\n'
  COMPREPLY=($(compgen -W "$1" -- "$2"))
}

# Folder and file names, quoted by readline as names.
_findlark_dirs() {
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  COMPREPLY=($(compgen -d -- "$1"))
}
_findlark_files() {
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  COMPREPLY=($(compgen -f -- "$1"))
}

# Options for a word that begins with a dash, else folders or files (the
# second argument: _findlark_dirs or _findlark_files).
_findlark_options_or() {
  if [[ $3 == -* ]]; then
    _findlark_words "$1" "$3"
  else
    "$2" "$3"
  fi
}

# The attribute names the importers can set: the first column of `mdimport -A`.
_findlark_attributes() {
  local mdimport=${FINDLARK_COMPLETION_MDIMPORT:-mdimport}
  _findlark_words "$("$mdimport" -A 2>/dev/null | while read -r name _; do printf '%s ' "$name"; done)" "$1"
}

# Saved searches, by the name `mdfind -s` takes, from the folders it looks in.
_findlark_saved_searches() {
  local IFS=$'\n' f names=()
  for f in "${XDG_DATA_HOME:-$HOME/.local/share}/findlark/Saved Searches"/*.savedSearch \
           "$HOME/Library/Saved Searches"/*.savedSearch; do
    [ -e "$f" ] || continue
    f=${f##*/}
    names+=("${f%.savedSearch}")
  done
  COMPREPLY=($(compgen -W "${names[*]}" -- "$1"))
  [ ${#COMPREPLY[@]} -gt 0 ] || _findlark_files "$1"
}

# The volumes of the volumes root, as -V takes them.
_findlark_volumes() {
  local root=${FINDLARK_VOLUMES_ROOT:-}
  if [ -z "$root" ]; then
    local c
    for c in "/run/media/$USER" "/media/$USER" /media; do
      [ -d "$c" ] && { root=$c; break; }
    done
  fi
  local IFS=$'\n' v names=()
  [ -n "$root" ] && for v in "$root"/*/; do
    [ -d "$v" ] || continue
    v=${v%/}
    names+=("${v##*/}")
  done
  COMPREPLY=($(compgen -W "${names[*]}" -- "$1"))
}

_findlark_mdfind() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -onlyin) _findlark_dirs "$cur"; return ;;
    -attr) _findlark_attributes "$cur"; return ;;
    -s) _findlark_saved_searches "$cur"; return ;;
    -name) COMPREPLY=(); return ;;
  esac
  [[ $cur == -* ]] && _findlark_words "-0 -attr -count -onlyin -live -reprint -name -s -literal -interpret -h --help --" "$cur"
}

_findlark_mdimport() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -d) _findlark_words "1 2 3 4" "$cur"; return ;;
    -r)
      local mdimport=${FINDLARK_COMPLETION_MDIMPORT:-mdimport}
      _findlark_words "$("$mdimport" -L 2>/dev/null | sed -n 's/.*[": ]\([A-Za-z0-9_-]*\)\.mdimporter.*/\1/p')" "$cur"
      return ;;
  esac
  _findlark_options_or "-t -d1 -d2 -d3 -d4 -d -L -A -X -r --sandbox-test -h --help" _findlark_files "$cur"
}

_findlark_mdls() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -name) _findlark_attributes "$cur"; return ;;
    -nullMarker) COMPREPLY=(); return ;;
    -plist) _findlark_files "$cur"; return ;;
  esac
  _findlark_options_or "-name -raw -nullMarker -plist -heading -h --help" _findlark_files "$cur"
}

_findlark_mdutil() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  # -i takes on or off, also at the end of a cluster (-ai off).
  if [[ $prev =~ ^-[a-zA-Z]*i$ ]]; then
    _findlark_words "on off" "$cur"
    return
  fi
  case $prev in
    -V) _findlark_volumes "$cur"; return ;;
    -t) COMPREPLY=(); return ;;
  esac
  _findlark_options_or "-s -v -E -i -L -X -V -a -t -h --help" _findlark_dirs "$cur"
}

_findlark_mdindexd() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    --max-watches|--fallback-interval) COMPREPLY=(); return ;;
  esac
  _findlark_words "--foreground --max-watches --fallback-interval -h --help" "$cur"
}

_findlark_findlark_check() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    --suite) _findlark_words "samples probes" "$cur"; return ;;
    --index) _findlark_words "mdindex tracker baloo recoll all" "$cur"; return ;;
    --format) _findlark_words "table json markdown" "$cur"; return ;;
    --folder|--audit) _findlark_dirs "$cur"; return ;;
    --file) _findlark_files "$cur"; return ;;
    --term|--timeout) COMPREPLY=(); return ;;
  esac
  _findlark_words "--suite --index --folder --file --audit --term --timeout --keep --format --json -h --help" "$cur"
}

complete -F _findlark_mdfind mdfind
complete -F _findlark_mdimport mdimport
complete -F _findlark_mdls mdls
complete -F _findlark_mdutil mdutil
complete -F _findlark_mdindexd mdindexd
complete -F _findlark_findlark_check findlark-check
