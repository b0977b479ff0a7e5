#pragma once

#include <QString>
#include <vector>

#include "ResultsStore.h"

class QIODevice;

namespace vitalon {

// Writes `runs` with their checks as CSV (RFC 4180: comma separated, fields
// with a comma, quote or line break quoted, CRLF line ends) to `out`: one line
// a check, its run's fields repeated; a run without checks gets one line with
// the check's fields empty. Each run's checks are read from `store`. Empty on
// success, else what went wrong; a run that cannot be read stops the export.
QString writeResultsCsv(QIODevice& out, results::ResultsStore& store,
                        const std::vector<results::RunRecord>& runs);

// One CSV field, quoted when it has to be.
QString csvField(const QString& text);

}  // namespace vitalon
