// tsumiki-judge similar: the pairs of submissions whose compiled code is
// alike (judge/similar.hpp), for a teacher to look at.  It judges nothing
// and changes no verdict.
//
//   tsumiki-judge similar [--threshold N] [--html FILE] [--] SUBMISSION...
//
// A submission is a file or a folder of .tsu files, found and read as the
// judge finds and reads them; one that cannot be read or does not compile
// is listed as left out.
#pragma once

// Runs the command; argv[1] is "similar".  Returns the exit status: 0 once
// the report is written, 2 for a usage error, 1 when it cannot be written.
int similar_command(int argc, char** argv);
