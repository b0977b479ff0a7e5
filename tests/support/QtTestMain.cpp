#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>

#include <gtest/gtest.h>

// Widget tests run without a display: default to the offscreen platform unless
// the caller chose one (for example xcb under Xvfb for a screenshot).
int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QApplication app(argc, argv);
    // Settings the program remembers go to a folder of this run, never the user's.
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    // So do the program's data files, the results store among them.
    const QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
