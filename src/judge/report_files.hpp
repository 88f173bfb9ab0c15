// Writing a report file so that it is never lost half written: its bytes go
// to a temporary file beside it, made before any work (a path that cannot
// be written is then a usage error, not a lost run), and the temporary is
// renamed over the report once whole.  An interrupted judge leaves the
// report as it was before.
#pragma once

#include <string>
#include <vector>

// A path that names a device or a pipe already (/dev/stdout, a FIFO) is
// written directly.
struct ReportFile {
    std::string path;      // as given; empty: not asked for
    std::string temporary; // PATH.XXXXXX, beside it, while open; empty when direct
    int fd = -1;
};

// Makes the temporary file of `file.path`.  False when it cannot be made.
bool open_report(ReportFile& file);

// Writes `text` to the temporary and renames it over the report, with the
// permissions a new file gets.  False (the temporary removed, the report
// as it was) when that fails.
bool finish_report(ReportFile& file, const std::string& text);

// Removes the temporary, leaving the report as it was.
void discard_report(ReportFile& file);

// Whether `path` names the same file as one of `others` (through any
// link), or, when it names none yet, one of them by the same path.
bool same_file_as_any(const std::string& path, const std::vector<std::string>& others);
