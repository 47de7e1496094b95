#!/usr/bin/env bash
# Checks that no source includes or calls a layer above its own. The layers,
# bottom to top: platform/ (files, folders, temporary files, trash, name
# comparison), clean/ (streams, passes, their chain), app/ (the run,
# messages, disposal, options, settings), then the front ends: cli/ (Linux),
# ui/ (Windows), lib/ (the library's interface).
#   tools/check-layers.sh [ROOT [BUILD]]  ROOT: the repository of this script by
#                                         default; BUILD: a build folder whose
#                                         object files show the calls (default
#                                         ROOT/build/linux when it exists)
#   tools/check-layers.sh --self-test     the check must refuse trees that break the rule
set -u
rank() {
  case $1 in platform) echo 0 ;; clean) echo 1 ;; app) echo 2 ;; cli|ui|lib) echo 3 ;; *) echo -1 ;; esac
}
layers="platform clean app cli ui lib"

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
  # A call upward that only the linker sees: no include, a declaration of its own.
  rm "$tree/platform/fs_posix.cpp"
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
    nm -P --defined-only "$obj" 2>/dev/null | awk -v r="$r" -v o="$rel" '$2 ~ /^[TDBRVWtdbrvw]$/ && $2 ~ /[A-Z]/ {print r, "D", $1, o}'
    nm -P -u "$obj" 2>/dev/null | awk -v r="$r" -v o="$rel" '{print r, "U", $1, o}'
  done < <(find "$build" -path '*CMakeFiles/*.dir/*' -name '*.o' 2>/dev/null) > "$list"
  upward=$(awk '
    $2 == "D" { if (!($3 in low) || $1 < low[$3]) low[$3] = $1; next }
    { use[NR] = $0; sym[NR] = $3; rk[NR] = $1; obj[NR] = $4 }
    END { for (i in use) if ((sym[i] in low) && low[sym[i]] > rk[i]) print obj[i] ": calls " sym[i] ", defined only in a layer above" }
  ' "$list" | sort -u)
  rm -f "$list"
  if [ -n "$upward" ]; then
    printf '%s\n' "$upward" >&2
    bad=1
  fi
fi
exit $bad
