// Reading a file whose path a user gave: a submission, a case, a program
// to debug, its input.  Such a path may name a FIFO (opening it would wait
// for a writer for ever), a device (/dev/zero never ends), a directory, a
// huge file, or a link out of the folder it was handed in.  Each is opened
// once, without waiting, and checked on what was opened (not on the path,
// which may change under us): a regular file of at most `limit` bytes,
// and, when `within` is given, one whose real place is inside that folder
// (links are followed only while they stay inside it).  POSIX, for the
// tools beside the core; the core reads its source on its own.
#pragma once

#include <cstddef>
#include <string>

// Why a user's file was not read.
enum class FileRefusal {
    none,        // read
    missing,     // no such file, or it could not be opened
    not_regular, // a directory, a FIFO, a device or a socket
    too_large,   // more than the limit's bytes
    outside,     // its real place is outside the folder it must be in
    unreadable,  // an error while reading it
};

// The English words for a refusal, as the tools' messages show them:
// "is not a regular file", "is larger than 1048576 bytes"...
std::string refusal_text(FileRefusal refusal, std::size_t limit);

// Reads the file at `path` into `bytes` (replacing them) when it is a
// regular file of at most `limit` bytes and, if `within` is not empty, its
// real place lies inside the folder `within`; otherwise leaves `bytes`
// empty and says why.  Never blocks on a FIFO or reads past `limit`.
FileRefusal read_user_file(const std::string& path, std::size_t limit, std::string& bytes,
                           const std::string& within = {});

// Whether `path`'s real place lies inside the folder `folder` (both made
// absolute and resolved; the folder itself counts as inside).
bool is_inside_folder(const std::string& path, const std::string& folder);
