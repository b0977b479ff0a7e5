#pragma once

#include <QImage>
#include <QString>

#include "ModuleTestRunner.h"

namespace vitalon::report {

// The report's pictures as line plots on white: counts over seconds, with a
// light grid every 0.1 s and every 10 counts. One drawing for the PDF and the
// HTML page, so both show the same.

// A recorded calibration pulse, the found rectangle shaded, its height, width
// and droop in the caption.
QImage calibrationPicture(const analysis::CalibrationTrace& trace);

// An averaged beat, the R wave marked, the number of beats in the caption.
QImage beatPicture(const analysis::LeadBeat& lead);

// Size of the pictures in CSS pixels; the images have twice as many for print.
inline constexpr int kPictureWidth = 420;
inline constexpr int kPictureHeight = 180;

}  // namespace vitalon::report
