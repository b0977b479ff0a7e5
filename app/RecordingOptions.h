#pragma once

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;

namespace vitalon {

// The command-line options of recording and replay.
struct RecordingOptions {
    QCommandLineOption record{
        QStringLiteral("record"),
        QStringLiteral("Start recording the session to this EDF+ file at "
                       "start-up (a change of rate continues in FILE-2.edf). An existing "
                       "file is not overwritten."),
        QStringLiteral("file")};
    QCommandLineOption replay{
        QStringLiteral("replay"),
        QStringLiteral("Show a recording (EDF or EDF+) as the module's stream on COM1, at its "
                       "recorded pace. Commands do not change it."),
        QStringLiteral("file")};
    QCommandLineOption repair{
        QStringLiteral("repair"),
        QStringLiteral("Make the header of a recording whose writer was killed consistent with "
                       "its data and restore its annotations, then exit: 0 consistent or "
                       "repaired, 1 not repaired or annotations missing."),
        QStringLiteral("file")};

    void addTo(QCommandLineParser& parser) const;
};

// True when the command line asks for --repair, which needs no window (and no
// display): main runs runRepair() instead of the program.
bool asksForRepair(int argc, char** argv);

// `vitalon --repair FILE`: repairs the file, prints what was done on standard
// output (or why not on standard error), and returns the exit code.
int runRepair(int argc, char** argv);

}  // namespace vitalon
