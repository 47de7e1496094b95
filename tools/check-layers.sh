#!/usr/bin/env bash
# Checks that no source includes a layer above its own. The layers, bottom
# to top: platform/ (files, temporary files, trash, name comparison),
# clean/ (streams, passes, their chain), app/ (the run, messages, disposal,
# options, command lines), ui/ (the Windows window).
#   tools/check-layers.sh [ROOT]        default: the repository of this script
#   tools/check-layers.sh --self-test   the check must refuse a tree that breaks the rule
set -u
if [ "${1:-}" = --self-test ]; then
  tree=$(mktemp -d "${TMPDIR:-/tmp}/layers.XXXXXX")
  trap 'rm -rf "$tree"' EXIT
  mkdir "$tree/platform" "$tree/clean" "$tree/app"
  printf '#include "platform/fs.h"\n' > "$tree/clean/stream.cpp"
  printf '#include "clean/clean.h"\n#include "platform/fs.h"\n' > "$tree/app/run.cpp"
  "$0" "$tree" || { echo "self-test: a good tree was refused" >&2; exit 1; }
  printf '#include <stdio.h>\n  #include "app/report.h"\n' > "$tree/platform/fs_posix.cpp"
  if "$0" "$tree" 2>/dev/null; then
    echo "self-test: platform/ including app/ went unnoticed" >&2
    exit 1
  fi
  exit 0
fi
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
rank() {
  case $1 in platform) echo 0 ;; clean) echo 1 ;; app) echo 2 ;; ui|lib) echo 3 ;; *) echo -1 ;; esac
}
bad=0
for layer in platform clean app ui lib; do
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
exit $bad
