#!/usr/bin/env bash
# Cleans one saved web page in place with the Linux program, building it
# first when needed: tools/clean-page.sh PAGE.htm
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/tools/bootstrap.sh" native
if [ ! -f "$here/build/linux/build.ninja" ]; then
  (cd "$here" && cmake --preset linux >/dev/null)
fi
cmake --build "$here/build/linux" --target webtrim >/dev/null
exec "$here/build/linux/webtrim" "$@"
