// The rules the window, the command line and the module test share: the
// recording's description of the module's state, and the checks of a module
// test's entries.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "CommandMeaning.h"
#include "ModuleTestPreparation.h"
#include "RecordedSignal.h"

namespace vitalon {
namespace {

TEST(RecordingSetup, DescribesTheModuleStateAndThePortItComesFrom) {
    DeviceSettings settings;
    settings.speed = 2;
    settings.lead = 2;
    settings.filter = 6;
    settings.amplification = 2;
    const auto start = std::chrono::system_clock::now();
    const recording::RecordingSetup setup =
        recordingSetup(settings, "/tmp/a.edf", {3, "/dev/ttyUSB0"}, start);
    EXPECT_EQ(setup.path, "/tmp/a.edf");
    EXPECT_EQ(setup.samplesPerSecond, 50);
    EXPECT_EQ(setup.waveform, recording::Waveform::EcgI);
    EXPECT_EQ(setup.filterHz, 60);
    EXPECT_EQ(setup.amplification, 2);
    EXPECT_EQ(setup.port, "COM3");
    EXPECT_EQ(setup.device, "/dev/ttyUSB0");
    EXPECT_EQ(setup.version, VITALON_VERSION);
    EXPECT_EQ(setup.startTime, start);

    settings.curve = 1;
    settings.filter = 5;
    settings.speed = 0;
    const recording::RecordingSetup closed =
        recordingSetup(settings, "b.edf", {0, "ignored"}, start);
    EXPECT_EQ(closed.samplesPerSecond, 300);
    EXPECT_EQ(closed.waveform, recording::Waveform::Respiration);
    EXPECT_EQ(closed.filterHz, 50);
    EXPECT_EQ(closed.port, "");  // no port open: neither a name nor a device
    EXPECT_EQ(closed.device, "");
}

TEST(RecordingSetup, CommandsAreAnnotatedWithTheirMeaning) {
    EXPECT_EQ(commandMeaning("S2"), "S2: 50/sec");
    EXPECT_EQ(commandMeaning("6"), "6: 60 Hz filter");
    EXPECT_EQ(commandMeaning(std::string_view("X\x01", 2)), "X?: unknown command");
}

class ModuleTestEntriesTest : public ::testing::Test {
public:
    std::string folder() const { return dir_.path().toStdString(); }
    std::string writeFile(const char* name, const QByteArray& text) const {
        QFile file(dir_.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName().toStdString();
    }

private:
    QTemporaryDir dir_;
};

TEST_F(ModuleTestEntriesTest, ProblemsAreFoundInOrderAndNamed) {
    struct Case {
        ModuleTestEntries entries;
        EntryProblem problem;
        const char* text;
    };
    const std::string bad = writeFile("bad.json", "{ not json");
    const std::string file = writeFile("plain", "x");
    const Case cases[] = {
        {{"  ", "Ann", "", folder()}, EntryProblem::NoSerialNumber, "serial number"},
        {{"SN1", "\t", "", folder()}, EntryProblem::NoOperator, "operator"},
        {{"SN1", "Ann", bad, "/nonexistent"}, EntryProblem::UnusableLimits, "bad.json"},
        {{"SN1", "Ann", "", "/nonexistent/reports"},
         EntryProblem::UnusableReportFolder,
         "does not exist"},
        {{"SN1", "Ann", "", file}, EntryProblem::UnusableReportFolder, "is not a folder"},
        {{"SN1", "Ann", "", ""}, EntryProblem::UnusableReportFolder, "No report folder"},
    };
    for (const Case& c : cases) {
        const PreparedModuleTest prepared = prepareModuleTest(c.entries);
        EXPECT_FALSE(prepared.ok());
        EXPECT_EQ(prepared.problem, c.problem) << c.text;
        EXPECT_TRUE(prepared.message.contains(QString::fromLatin1(c.text)))
            << prepared.message.toStdString();
    }
}

TEST_F(ModuleTestEntriesTest, GoodEntriesAreTrimmedAndThePathsMadeAbsolute) {
    const PreparedModuleTest builtIn = prepareModuleTest({" SN 7 ", " Ann ", " ", folder()});
    ASSERT_TRUE(builtIn.ok()) << builtIn.message.toStdString();
    EXPECT_EQ(builtIn.setup.serialNumber, "SN 7");
    EXPECT_EQ(builtIn.setup.operatorName, "Ann");
    EXPECT_EQ(builtIn.setup.limitsPath, "");
    EXPECT_EQ(builtIn.setup.reportFolder, QDir(QString::fromStdString(folder())).absolutePath());
    EXPECT_TRUE(builtIn.message.isEmpty());

    const QString relative = QDir::current().relativeFilePath(QString::fromStdString(folder()));
    const PreparedModuleTest withLimits =
        prepareModuleTest({"SN8", "Ann", VITALON_MODEL_LIMITS, relative.toStdString()});
    ASSERT_TRUE(withLimits.ok()) << withLimits.message.toStdString();
    EXPECT_EQ(withLimits.setup.limitsPath, VITALON_MODEL_LIMITS);
    EXPECT_TRUE(QDir::isAbsolutePath(withLimits.setup.reportFolder));
}

}  // namespace
}  // namespace vitalon
