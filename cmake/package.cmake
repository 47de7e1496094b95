# The Debian package of the Linux program: `cpack -G DEB` in the build folder
# makes webtrim_VERSION_ARCH.deb with everything `cmake --install` installs
# under /usr, its library dependencies found by dpkg-shlibdeps.
set(WEBTRIM_MAINTAINER "Webtrim maintainers <maintainers@users.noreply.c-seed-9d083625.example>"
    CACHE STRING "The Debian package's maintainer: name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME webtrim)
set(CPACK_PACKAGE_VENDOR Halvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "clean saved web pages in place")
set(CPACK_PACKAGE_DESCRIPTION
  "Webtrim cuts a saved web page (.htm, .html, .plg) down to its main part, removes scripts, styles, forms, frames, pictures and whatever loads from the Internet, as chosen, and writes the cleaned page at its own path; the untouched original goes to the trash or into a chosen folder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WEBTRIM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
