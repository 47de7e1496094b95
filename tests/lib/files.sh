#!/usr/bin/env bash
# The library's files as built and as installed: what the shared and static
# libraries export and need, the header compiled as C99 by a user's program
# linked each way, and what `cmake --install` puts where (the library, the
# header, the pkg-config file that a program builds with, the Python module
# where Debian's python3 finds it).
#   tests/lib/files.sh SOURCE BUILD [CFLAGS]     CFLAGS: the build's, for sanitizers
# WEBTRIM_PYTHON_PRELOAD: what python3 must preload to load the module
# (the sanitizer's runtime).
set -u
src=$1 build=$2 cflags=${3:-}
lib=$build/lib
work=$(mktemp -d "${TMPDIR:-/tmp}/webtrim-lib.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
check() {  # WHAT COMMAND...: runs the command; its failure fails the test
  local what=$1; shift
  if out=$("$@" 2>&1); then
    echo "ok    $what"
  else
    echo "FAIL  $what"; printf '%s\n' "$out" | sed 's/^/      /' | head -n 20
    failed=1
  fi
}

# Every defined name is a wt_ name (or the version node), and there are some.
only_wt_names() {
  local names; names=$("$@") || return 1
  [ -n "$names" ] || { echo "no names"; return 1; }
  ! printf '%s\n' "$names" | sed 's/@.*//' | grep -v -E '^(wt_[a-z_]+|WEBTRIM_1)$'
}
no_glib() {
  ! ldd "$1" | grep -E 'glib|gio|gobject' && ! readelf -d "$1" | grep -E 'NEEDED.*(glib|gio|gobject)'
}
soname_is() { readelf -d "$1" | grep -q "SONAME.*\[$2\]"; }
compile_and_run() {  # NAME GCC-ARGUMENTS...: builds tests/lib/use_from_c.c and runs it
  local name=$1; shift
  gcc -std=c99 -Wall -Wextra -Werror -pedantic $cflags "$src/tests/lib/use_from_c.c" \
    -o "$work/$name" "$@" && "$work/$name"
}
installed() {  # ROOT FILE...: each file is in ROOT
  local root=$1 f; shift
  for f in "$@"; do [ -e "$root/$f" ] || { echo "missing $f"; ls -R "$root"; return 1; }; done
}
install_component() {  # ROOT PREFIX COMPONENT
  DESTDIR=$1 cmake --install "$build" --prefix "$2" --component "$3" >/dev/null
}
pkg_config_build() {  # ROOT LIBDIR: compiles with what the installed webtrim.pc names
  local flags
  flags=$(PKG_CONFIG_SYSROOT_DIR=$1 PKG_CONFIG_LIBDIR=$1$2/pkgconfig pkg-config --cflags --libs webtrim) &&
    compile_and_run by-pkg-config $flags -Wl,-rpath,"$1$2"
}
python_finds() {  # ROOT LIBDIR DIR: Debian's python3 imports the module from DIR and cleans
  PYTHONPATH=$1$3 LD_LIBRARY_PATH=$1$2 LD_PRELOAD=${WEBTRIM_PYTHON_PRELOAD:-} /usr/bin/python3 -c '
import sys, webtrim
assert webtrim.__file__.startswith(sys.argv[1]), webtrim.__file__
assert webtrim.clean(b"<html><body><script>x</script>text</body></html>") == b"<html><body>text</body></html>"
' "$1$3"
}

check "shared library exports only wt_ names" \
  only_wt_names nm -D --defined-only --format=just-symbols "$lib/libwebtrim.so.1"
check "shared library's SONAME is libwebtrim.so.1" soname_is "$lib/libwebtrim.so.1" libwebtrim.so.1
check "shared library links no GLib" no_glib "$lib/libwebtrim.so.1"
check "static library defines only wt_ names for others" \
  only_wt_names nm -g --defined-only --format=just-symbols "$lib/libwebtrim.a"
check "a C99 program links the static library alone" \
  compile_and_run static -I"$src/include" "$lib/libwebtrim.a"
check "a C99 program links the shared library" \
  compile_and_run shared -I"$src/include" -L"$lib" -lwebtrim -Wl,-rpath,"$lib"

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
pyver=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
module=$(cd "$build/python" 2>/dev/null && ls webtrim.*.so 2>/dev/null)
for prefix in /usr /usr/local; do
  root=$work/root$(echo "$prefix" | tr / _)
  for component in lib dev python; do install_component "$root" "$prefix" "$component"; done
  check "$prefix: the library, header and pkg-config file installed" installed "$root$prefix" \
    "$libdir/libwebtrim.so.1" "$libdir/libwebtrim.so" "$libdir/libwebtrim.a" \
    include/webtrim.h "$libdir/pkgconfig/webtrim.pc"
  check "$prefix: a C99 program builds with pkg-config webtrim" pkg_config_build "$root" "$prefix/$libdir"
  [ "$prefix" = /usr ] && dist=lib/python3/dist-packages || dist=lib/python$pyver/dist-packages
  if [ -n "$module" ]; then
    check "$prefix: the Python module in $dist" installed "$root$prefix" "$dist/$module"
    check "$prefix: the installed module carries no search path" \
      sh -c "! readelf -d '$root$prefix/$dist/$module' | grep -E 'RPATH|RUNPATH'"
    check "$prefix: python3 imports it from there" python_finds "$root" "$prefix/$libdir" "$prefix/$dist"
  fi
done
# The runtime part holds the library under its SONAME, and its papers.
install_component "$work/runtime" /usr lib
version=$(readlink "$lib/libwebtrim.so.1" | sed 's/.*\.so\.//')
check "the runtime component: the library alone" \
  test "$(cd "$work/runtime" && find . -type f -o -type l | grep -v '^./usr/share/doc/libwebtrim1/' |
          sort | tr '\n' ' ')" = "./usr/$libdir/libwebtrim.so.1 ./usr/$libdir/libwebtrim.so.$version "
exit $failed
