# The Debian packages: `cpack -G DEB` in the build folder makes one .deb per
# part of what `cmake --install` installs under /usr:
#   webtrim          the program, its manual page and completion (component program)
#   libwebtrim1      the shared library, named after its SONAME  (lib)
#   libwebtrim-dev   its header, static library, pkg-config file (dev)
#   python3-webtrim  the Python module and its Dask example      (python)
# Each has /usr/share/doc/PACKAGE/copyright (Debian's machine-readable form,
# made from LICENSE) and changelog.Debian.gz (from doc/changelog.Debian);
# library dependencies come from dpkg-shlibdeps.
set(WEBTRIM_MAINTAINER "Webtrim maintainers <maintainers@users.noreply.c-seed-9d083625.example>"
    CACHE STRING "The Debian package's maintainer: name <address>")
set(WEBTRIM_DEB_RELEASE 1)     # the packaging's own revision of this version
set(WEBTRIM_PACKAGES program:webtrim lib:libwebtrim1 dev:libwebtrim-dev python:python3-webtrim)

# The copyright file: the licence of LICENSE under its Debian name.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" terms "${license}")
string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REGEX REPLACE "\n+$" "" terms "${terms}")
string(REPLACE "\n" "\n " terms " ${terms}")
file(WRITE ${CMAKE_BINARY_DIR}/debian/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: webtrim
Upstream-Contact: ${WEBTRIM_MAINTAINER}
Source: ${WEBTRIM_HOMEPAGE}

Files: *
Copyright: ${holder}
License: Expat

License: Expat
${terms}
")
add_custom_command(OUTPUT debian/changelog.Debian.gz
  COMMAND sh -c "gzip -n -9 -c \"$1\" > debian/changelog.Debian.gz" sh
          ${CMAKE_SOURCE_DIR}/doc/changelog.Debian
  DEPENDS doc/changelog.Debian VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS debian/changelog.Debian.gz)
foreach(part IN LISTS WEBTRIM_PACKAGES)
  string(REPLACE ":" ";" part "${part}")
  list(GET part 0 component)
  list(GET part 1 package)
  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/examples/dask_clean.py
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-webtrim/examples COMPONENT python)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME webtrim)
set(CPACK_PACKAGE_VENDOR Halvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program lib dev)
if(TARGET webtrim_python)       # built where python3-dev is installed
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${WEBTRIM_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE webtrim)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WEBTRIM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${WEBTRIM_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)      # libwebtrim1's shlibs file
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The Python module needs the library of this build, which no installed
# package describes yet.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(full_version "${PROJECT_VERSION}-${WEBTRIM_DEB_RELEASE}")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME webtrim)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS python3-webtrim)
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "clean saved web pages in place
Webtrim cuts a saved web page (.htm, .html, .plg) down to its main part and
removes scripts, styles, forms, frames, pictures and whatever loads from the
Internet, as chosen; it writes the cleaned page at the page's own path, and
the untouched original goes to the trash or into a chosen folder.")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libwebtrim1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_PACKAGE_SUGGESTS webtrim)
file(WRITE ${CMAKE_BINARY_DIR}/debian/lib/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/lib/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "library that cleans saved web pages in memory
The cleaning of Webtrim as a shared library with a C interface: it cuts a
web page down to its main part and removes the kinds of element chosen,
from memory to memory, without files, on any number of threads at once.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libwebtrim-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libwebtrim1 (= ${full_version})")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS pkgconf)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DEV_DESCRIPTION "library that cleans saved web pages in memory (development files)
The header webtrim.h, the static library and the pkg-config file for
programs that clean web pages with libwebtrim1.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-webtrim)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The module is built for one version of Python 3.
string(REGEX REPLACE "^([0-9]+)\\.([0-9]+).*" "\\1;\\2" python "${WEBTRIM_PYTHON_VERSION}")
list(GET python 0 major)
list(GET python 1 minor)
math(EXPR next "${minor} + 1")
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
  "libwebtrim1 (>= ${full_version}), python3 (>= ${major}.${minor}~), python3 (<< ${major}.${next})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-distributed)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python module that cleans saved web pages in memory
The module webtrim cleans one page per call, from bytes to bytes, with the
options of the webtrim program, and lets other threads run while it cleans.
An example cleans folders of pages or the HTML responses of WARC files on a
Dask cluster.")
include(CPack)
