#pragma once

#include <cstdint>
#include <string>

namespace vitalon::recording {

// Beside each file being recorded, its annotations are also appended to
// NAME.edf.annotations (one "onset<TAB>text" line each, onset in units of
// 100 us from the file's start), flushed with the data. EDFlib keeps
// annotations in memory until the file is closed, so this copy is what
// survives a crash. A clean close removes it.
std::string journalPath(const std::string& edfPath);

struct RepairResult {
    // Incomplete: the header and records are consistent, but some annotations
    // (of the journal, or of the file itself) are not in the file; the journal
    // is kept.
    enum class Outcome {
        AlreadyConsistent,
        Repaired,
        Incomplete,
        Failed
    } outcome = Outcome::Failed;
    std::string message;                    // for the user: what was done, or why it could not be
    std::uint64_t records = 0;              // complete data records the file holds now
    std::uint64_t restoredAnnotations = 0;  // taken from the journal into the file, read back
};

// Makes a file whose writer stopped abruptly (killed, or a failed disk)
// consistent in place, without growing it: drops a trailing partial record,
// sets the header's record count to the complete records on disk, and writes
// the annotations of the journal that the file lacks into the annotation
// space of those records, in the journal's order. The journal is removed only
// when the file, read back, holds every one of them. A consistent file without
// a journal is left untouched; anything but a regular file is refused before
// it is opened.
RepairResult repairRecording(const std::string& path);

}  // namespace vitalon::recording
