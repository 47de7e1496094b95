/* The program's version, in one place: the resource script takes it into
   VERSIONINFO, and the build reads it for the installer and the zip.
   #define lines only, for windres and CMake alike. */
#ifndef WEBTRIM_VERSION_H
#define WEBTRIM_VERSION_H

#define WEBTRIM_VERSION_MAJOR 2
#define WEBTRIM_VERSION_MINOR 4
#define WEBTRIM_VERSION_PATCH 1
#define WEBTRIM_VERSION_TEXT "2.04.01"

#endif
