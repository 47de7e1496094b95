// Where -o (and standard output) writes a cleaned page: see output.cpp.
#pragma once
#include "clean/stream.h"
#include "platform/folder.h"
#include "platform/place.h"

enum OutputWay {
    kOutputToDescriptor,    // an open descriptor: standard output, /dev/fd/N, a FIFO, a device
    kOutputCreate,          // no file at the name: a new one
    kOutputReplace,         // the runner's own file with one link: replaced at once
    kOutputTruncate,        // another's file, or one with other links: written in place
};

struct Output {
    OutputWay way;
    int fd;                 // kOutputToDescriptor
    bool ownFd;             // opened here (a FIFO, a device): closed with the output
    HeldFolder folder;      // the others: the folder that holds the name
    char name[kFolderPathSize];
    unsigned mode;          // a new file's mode before the umask
    PageIdentity at;        // the file at the name when it was judged (volume and file 0: none)
};

// The open descriptor that `path` stands for ("-", /dev/stdout, /dev/fd/N,
// /proc/self/fd/N), or -1 when it names a file.
int OutputDescriptor(const char *path);

// Decides how `path` is written (a new file gets pageMode less the umask).
// False with errno when it cannot be written at all.
bool OpenOutput(const char *path, unsigned pageMode, Output *o);

// Writes the whole of the cleaned page (a temporary file) there. False
// with errno on failure; a new file is then not left behind. A file
// written in place must still be the one that was judged (else EACCES);
// the runner's own file in a folder where no new file can be made is
// written in place, as a shell's > does. With `times` (-p), a file written
// gets its modification and access times; a descriptor keeps its own.
bool WriteOutput(Output *o, ByteStream *cleaned, const PageIdentity *times);

void CloseOutput(Output *o);
