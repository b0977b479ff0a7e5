#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <vector>

#include <gtest/gtest.h>

// The core's tests run as the headless program does: no widgets, and the
// offscreen platform chosen on the command line (the report's PDF needs fonts).
int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char platformOption[] = "-platform";
    char platform[] = "offscreen";
    args.push_back(platformOption);
    args.push_back(platform);
    int qtArgc = static_cast<int>(args.size());
    QGuiApplication app(qtArgc, args.data());
    // Settings the program remembers go to a folder of this run, never the user's.
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
