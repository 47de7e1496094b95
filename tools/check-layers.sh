#!/usr/bin/env bash
# Checks that no source includes or calls a layer above its own. The layers,
# bottom to top: platform/ (files, folders, temporary files, trash, name
# comparison), clean/ (streams, passes, their chain), app/ (the run,
# messages, disposal, options, settings), then the front ends, peers that
# never include or call one another: cli/ (Linux), ui/ (Windows), lib/ (the
# library's interface), python/ (the Python module, over the library's
# public header only).
#   tools/check-layers.sh [ROOT [BUILD]]  ROOT: the repository of this script by
#                                         default; BUILD: a build folder whose
#                                         object files show the calls (default
#                                         ROOT/build/linux when it exists)
#   tools/check-layers.sh --self-test     the check must refuse trees that break the rule
set -u
rank() {
  case $1 in platform) echo 0 ;; clean) echo 1 ;; app) echo 2 ;; cli|ui|lib|python) echo 3 ;; *) echo -1 ;; esac
}
layers="platform clean app cli ui lib python"
front=3     # the rank of the front ends, which are peers

if [ "${1:-}" = --self-test ]; then
  tree=$(mktemp -d "${TMPDIR:-/tmp}/layers.XXXXXX")
  trap 'rm -rf "$tree"' EXIT
  mkdir "$tree/platform" "$tree/clean" "$tree/app" "$tree/build"
  printf '#include "platform/fs.h"\n' > "$tree/clean/stream.cpp"
  printf '#include "clean/clean.h"\n#include "platform/fs.h"\n' > "$tree/app/run.cpp"
  "$0" "$tree" "$tree/build" || { echo "self-test: a good tree was refused" >&2; exit 1; }
  printf '#include <stdio.h>\n  #include "app/report.h"\n' > "$tree/platform/fs_posix.cpp"
  if "$0" "$tree" "$tree/build" 2>/dev/null; then
    echo "self-test: platform/ including app/ went unnoticed" >&2
    exit 1
  fi
  rm "$tree/platform/fs_posix.cpp"
  # The front ends are peers: each may include the layers below, none another.
  mkdir "$tree/cli" "$tree/ui" "$tree/lib" "$tree/python"
  printf '#include "app/run.h"\n' > "$tree/cli/main.cpp"
  printf '#include "include/webtrim.h"\n' > "$tree/python/webtrim.c"
  "$0" "$tree" "$tree/build" || { echo "self-test: front ends over the layers below were refused" >&2; exit 1; }
  for pair in cli:ui ui:cli lib:cli python:lib cli:python; do
    printf '#include "%s/x.h"\n' "${pair#*:}" > "$tree/${pair%%:*}/peer.cpp"
    if "$0" "$tree" "$tree/build" 2>/dev/null; then
      echo "self-test: ${pair%%:*}/ including ${pair#*:}/ went unnoticed" >&2
      exit 1
    fi
    rm "$tree/${pair%%:*}/peer.cpp"
  done
  # A call upward that only the linker sees: no include, a declaration of its own.
  objects="$tree/build/CMakeFiles/core.dir"
  mkdir -p "$objects/platform" "$objects/app"
  printf 'void ShowMessage(int);\nvoid Fail(void) { ShowMessage(1); }\n' > "$tree/platform/fs.c"
  printf 'void ShowMessage(int id) { (void)id; }\nvoid Run(void) {}\n' > "$tree/app/report.c"
  cc -c "$tree/platform/fs.c" -o "$objects/platform/fs.c.o" &&
    cc -c "$tree/app/report.c" -o "$objects/app/report.c.o" || { echo "self-test: no compiler" >&2; exit 1; }
  if "$0" "$tree" "$tree/build" 2>/dev/null; then
    echo "self-test: a call from platform/ into app/ went unnoticed" >&2
    exit 1
  fi
  printf 'void Fail(void) {}\n' > "$tree/platform/fs.c"
  cc -c "$tree/platform/fs.c" -o "$objects/platform/fs.c.o"
  "$0" "$tree" "$tree/build" || { echo "self-test: a call downward was refused" >&2; exit 1; }
  # A front end calling another only through the linker.
  mkdir -p "$objects/cli" "$objects/ui"
  printf 'void ShowResultLine(const char *);\nvoid Report(void) { ShowResultLine(""); }\n' > "$tree/cli/report.c"
  printf 'void ShowResultLine(const char *s) { (void)s; }\n' > "$tree/ui/mainwnd.c"
  cc -c "$tree/cli/report.c" -o "$objects/cli/report.c.o" && cc -c "$tree/ui/mainwnd.c" -o "$objects/ui/mainwnd.c.o"
  if "$0" "$tree" "$tree/build" 2>/dev/null; then
    echo "self-test: a call from cli/ into ui/ went unnoticed" >&2
    exit 1
  fi
  printf 'void ShowResultLine(const char *s) { (void)s; }\nvoid Report(void) { ShowResultLine(""); }\n' > "$tree/cli/report.c"
  cc -c "$tree/cli/report.c" -o "$objects/cli/report.c.o"
  "$0" "$tree" "$tree/build" || { echo "self-test: a front end calling its own was refused" >&2; exit 1; }
  exit 0
fi

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
build=${2:-$root/build/linux}
bad=0

# Includes.
for layer in $layers; do
  own=$(rank "$layer")
  for f in "$root/$layer"/*.h "$root/$layer"/*.cpp "$root/$layer"/*.c "$root/$layer"/*.rc; do
    [ -f "$f" ] || continue
    while IFS= read -r used; do
      r=$(rank "$used")
      if [ "$r" -gt "$own" ]; then
        echo "${f#$root/}: includes from $used/, a layer above $layer/" >&2
        bad=1
      elif [ "$r" -eq "$front" ] && [ "$own" -eq "$front" ] && [ "$used" != "$layer" ]; then
        echo "${f#$root/}: includes from $used/, a front end beside $layer/" >&2
        bad=1
      fi
    done < <(sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)/.*|\1|p' "$f")
  done
done
compgen -G "$root/dispose/*" >/dev/null && { echo "dispose/: its loop belongs in app/, its services in platform/" >&2; bad=1; }

# Calls: in the object files of a build, a symbol that a layer's object uses
# must be defined in that layer or below, never only above (a declaration
# of one's own would pass the include check and still call upward).
if [ -d "$build" ] && command -v nm >/dev/null; then
  list=$(mktemp "${TMPDIR:-/tmp}/layers-syms.XXXXXX")
  # "rank kind symbol object" for every object compiled from a layer's source.
  while IFS= read -r obj; do
    rel=${obj#*.dir/}
    layer=${rel%%/*}
    r=$(rank "$layer")
    [ "$r" -ge 0 ] || continue
    nm -P --defined-only "$obj" 2>/dev/null | awk -v r="$r" -v o="$rel" -v l="$layer" '$2 ~ /^[TDBRVWtdbrvw]$/ && $2 ~ /[A-Z]/ {print r, "D", $1, o, l}'
    nm -P -u "$obj" 2>/dev/null | awk -v r="$r" -v o="$rel" -v l="$layer" '{print r, "U", $1, o, l}'
  done < <(find "$build" -path '*CMakeFiles/*.dir/*' -name '*.o' 2>/dev/null) > "$list"
  # A front end's call is also refused when only another front end defines it.
  upward=$(awk -v front="$front" '
    $2 == "D" { if (!($3 in low) || $1 < low[$3]) low[$3] = $1; in_layer[$3 SUBSEP $5] = 1; next }
    { use[NR] = $0; sym[NR] = $3; rk[NR] = $1; obj[NR] = $4; lay[NR] = $5 }
    END {
      for (i in use) {
        if (!(sym[i] in low))
          continue
        if (low[sym[i]] > rk[i])
          print obj[i] ": calls " sym[i] ", defined only in a layer above"
        else if (rk[i] == front && low[sym[i]] == front && !((sym[i] SUBSEP lay[i]) in in_layer))
          print obj[i] ": calls " sym[i] ", defined only in another front end"
      }
    }
  ' "$list" | sort -u)
  rm -f "$list"
  if [ -n "$upward" ]; then
    printf '%s\n' "$upward" >&2
    bad=1
  fi
fi
exit $bad
