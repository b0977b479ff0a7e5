// The program without its window, driven through its core with a fake serial
// link: the module test against the module model in virtual time, the
// recording of a session, and a new stream after a lost link. No widgets.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSysInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "EdfReader.h"
#include "EdfRecorder.h"
#include "EventLoopWait.h"
#include "Fakes.h"
#include "ModuleModel.h"
#include "ModuleTestPreparation.h"
#include "RecordingListener.h"
#include "Station.h"

namespace vitalon {
namespace {

using std::chrono::milliseconds;
using testing::FakeLink;

constexpr const char* kDevice = "/dev/fake-module";

// A station on a fake link whose only port (COM1) opens.
struct FakeStation {
    FakeStation() {
        auto fake = std::make_unique<FakeLink>();
        link = fake.get();
        link->openable = {kDevice};
        PortAssignment ports;
        ports[0] = PortDevice{kDevice, "fake module"};
        auto identities = std::make_unique<FakeDeviceIdentityProvider>();
        devices = identities.get();
        station = std::make_unique<Station>(std::move(fake), std::move(identities), ports);
        QObject::connect(station.get(), &Station::statusReported,
                         [this](const QString& text) { statuses.push_back(text.toStdString()); });
        station->reconnect().disableForThisRun();
        station->watchdogTimer().stop();  // the tests tick the watchdog themselves
        station->start();
    }

    // Hands every command the station has written since the last call to the model.
    void forwardCommands(sim::ModuleModel& model) {
        for (; forwarded < link->writes.size(); ++forwarded) {
            model.receive(link->writes[forwarded]);
        }
    }

    // Before the station, which may still report while it shuts down.
    std::vector<std::string> statuses;
    FakeLink* link = nullptr;                       // owned by the station
    FakeDeviceIdentityProvider* devices = nullptr;  // owned by the station
    std::unique_ptr<Station> station;
    std::size_t forwarded = 0;
};

std::vector<std::string> annotationsOf(const std::string& path) {
    recording::EdfReader reader;
    EXPECT_EQ(reader.open(path), "");
    std::vector<std::string> texts;
    recording::EdfRecord record;
    for (std::uint64_t i = 0; i < reader.header().usableRecords; ++i) {
        EXPECT_TRUE(reader.readAnnotations(i, record));
        for (const recording::EdfAnnotation& annotation : record.annotations) {
            texts.push_back(annotation.text);
        }
    }
    return texts;
}

// The annotations of a recording and the files it continued in.
std::vector<std::string> chainAnnotationsOf(const std::string& first) {
    std::vector<std::string> texts = annotationsOf(first);
    for (int i = 2; QFileInfo::exists(QString::fromStdString(recording::chainedFileName(first, i)));
         ++i) {
        const std::vector<std::string> more = annotationsOf(recording::chainedFileName(first, i));
        texts.insert(texts.end(), more.begin(), more.end());
    }
    return texts;
}

bool contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(Station, StartUpOpensThePortSendsTheStartCommandsAndShowsTheStream) {
    FakeStation s;
    EXPECT_EQ(s.station->currentPort(), 1);
    EXPECT_EQ(s.link->writes, (std::vector<std::string>{"S1", "A1", "5", "N", "G1", "D0"}));
    ASSERT_FALSE(s.statuses.empty());
    EXPECT_EQ(s.statuses.front().rfind("COM1 - /dev/fake-module", 0), 0u) << s.statuses.front();

    s.link->receive({120, 250, 72, 251, 0});
    EXPECT_EQ(s.station->vitals().pulseRate, 72);
    s.station->clickSetting(&SettingSelectors::cycleSpeed);
    EXPECT_EQ(s.link->writes.back(), "S2");
    EXPECT_EQ(s.station->settings().speed, 2);

    s.station->shutDown();
    EXPECT_FALSE(s.link->isOpen());
    s.station->clickSetting(&SettingSelectors::cycleSpeed);  // nothing after shutdown
    EXPECT_EQ(s.link->writes.back(), "S2");
}

TEST(Station, APendingMarkerDoesNotTakeTheFirstByteAfterALossAsItsValue) {
    for (const bool reopenedByPick : {false, true}) {
        FakeStation s;
        s.link->receive({250, 80});
        ASSERT_EQ(s.station->vitals().pulseRate, 80);
        s.link->receive({100, 250});  // a pulse marker, its value never comes
        s.link->lose("the cable was pulled");
        if (reopenedByPick) {
            s.station->pickPort(1);
            ASSERT_TRUE(s.link->isOpen());
        }
        testing::RecordingListener after;
        s.station->decoder().addListener(after);
        s.link->receive({90});  // the first byte of the new stream is a sample
        s.station->decoder().removeListener(after);
        EXPECT_EQ(s.station->vitals().pulseRate, 80) << reopenedByPick;
        EXPECT_EQ(after.calls, std::vector<std::string>{"plot 90"}) << reopenedByPick;
        EXPECT_FALSE(s.station->decoder().expectsPulse());
    }
}

TEST(Station, RecordingMarksCommandsTheWatchdogAndLossesAndFollowsTheRate) {
    QTemporaryDir dir;
    FakeStation s;
    const std::string path = dir.filePath(QStringLiteral("session.edf")).toStdString();
    ASSERT_TRUE(s.station->recording().start(path));
    EXPECT_EQ(s.statuses.back(), "Recording to " + path);

    auto now = ArrivalClock::now();
    const auto feed = [&](int seconds, std::uint8_t level) {
        for (int i = 0; i < seconds * 10; ++i) {
            now += milliseconds(100);
            s.link->receive(std::vector<std::uint8_t>(10, level), now);
        }
    };
    feed(2, 100);
    for (int i = 0; i < 4; ++i) {
        s.station->watchdogTick();  // no pulse marker: stale on the fourth tick
    }
    s.station->clickSetting(&SettingSelectors::cycleSpeed);  // S2: 50/sec, a new file
    s.link->lose("the cable was pulled");
    s.station->pickPort(1);
    feed(2, 120);
    s.link->receive({250, 70}, now);
    s.station->watchdogTick();
    s.station->recording().annotate("Freeze");
    s.station->recording().stop();

    const auto& files = s.station->recording().recorder().files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(s.statuses.back(), "Recording saved: " + path + " and 1 more file(s)");
    const std::vector<std::string> first = annotationsOf(files[0]);
    const std::vector<std::string> second = annotationsOf(files[1]);
    EXPECT_TRUE(contains(first, "Watchdog stale: No Data!"));
    EXPECT_TRUE(contains(first, "S2: 50/sec")) << first.size();
    for (const char* text : {"Link lost: the cable was pulled", "Link reopened", "Watchdog live",
                             "Freeze", "Recording ends"}) {
        EXPECT_TRUE(contains(second, text)) << text;
    }
    recording::EdfReader reader;
    ASSERT_EQ(reader.open(files[1]), "");
    EXPECT_EQ(reader.header().signalList.at(0).samplesPerRecord, 50u);
}

TEST(Station, ARecordingFromStartUpNamesTheStartCommandsUnlessItIsAReplay) {
    QTemporaryDir dir;
    for (const bool replay : {false, true}) {
        FakeStation s;
        if (replay) {
            s.station->recording().setReplay(100);
        }
        const std::string path =
            dir.filePath(replay ? QStringLiteral("replay.edf") : QStringLiteral("live.edf"))
                .toStdString();
        ASSERT_TRUE(s.station->recordFromStartUp(path));
        s.station->recording().stop();
        const std::vector<std::string> marks = annotationsOf(path);
        EXPECT_EQ(contains(marks, "S1: 100/sec"), !replay);
        EXPECT_EQ(contains(marks, "D0: ECG curve"), !replay);
    }
    FakeStation unwritable;
    EXPECT_FALSE(unwritable.station->recordFromStartUp("/nonexistent/folder/x.edf"));
    EXPECT_FALSE(unwritable.station->recording().isRecording());
}

TEST(Station, ModuleTestRunsOnTheFakeLinkAgainstTheModelAndWritesItsFiles) {
    QTemporaryDir dir;
    FakeStation s;
    sim::ModuleModel model{sim::Scenario{}};
    auto now = ArrivalClock::now();
    s.station->setClock([&now] { return now; });
    s.forwardCommands(model);  // the start commands

    PreparedModuleTest prepared =
        prepareModuleTest({"SN-CORE", "Ann", "", dir.path().toStdString()});
    ASSERT_TRUE(prepared.ok()) << prepared.message.toStdString();
    std::unique_ptr<ModuleTestSession> session = s.station->makeModuleTest(prepared.setup);
    bool finished = false;
    QObject::connect(session.get(), &ModuleTestSession::finished, [&finished] { finished = true; });
    ASSERT_TRUE(session->start()) << session->error().toStdString();

    std::vector<std::uint8_t> bytes;
    while (!finished && now - ArrivalClock::now() < std::chrono::minutes(10)) {
        now += milliseconds(20);
        s.forwardCommands(model);
        bytes.clear();
        model.advance(milliseconds(20), bytes);
        s.link->receive(bytes, now);
    }
    ASSERT_TRUE(finished);
    EXPECT_EQ(session->runner().outcome(), analysis::TestOutcome::Passed);
    EXPECT_TRUE(failedStepNames(session->runner()).empty());
    // The commands of the test went out through the station's selectors, and
    // the module was left as the test found it.
    EXPECT_GT(s.link->writes.size(), 12u);
    EXPECT_EQ(s.station->settings().speed, 1);
    EXPECT_EQ(s.station->settings().mode, 0);
    const report::ReportWriteResult& written = session->reportResult();
    ASSERT_TRUE(written.ok) << written.error.toStdString();
    for (const QString& file :
         {written.paths.pdf, written.paths.html, written.paths.json, session->recordingPath()}) {
        EXPECT_TRUE(QFileInfo(file).size() > 0) << file.toStdString();
    }
    const std::vector<std::string> marks =
        chainAnnotationsOf(session->recordingPath().toStdString());
    EXPECT_TRUE(contains(marks, "Module test of SN-CORE"));
    EXPECT_TRUE(contains(marks, "Test PASS")) << (marks.empty() ? "" : marks.back());
}

// What the report of a run in the program says about where, when and with
// what it ran: the station's name as given, the port and the USB adapter
// behind it, the attempt number from the earlier reports, the end time, and
// every recorded file with the hash of what is on disk; the recording's
// header names the module.
TEST(Station, ModuleTestReportTracesStationPortAttemptAndRecordings) {
    QTemporaryDir dir;
    FakeStation s;
    s.devices->plug(kDevice,
                    DeviceIdentity::usbAdapter(0x0403, 0x6001, "A5XK3RJT", "pci-0000:00:14.0"),
                    "FT232R USB UART");
    sim::ModuleModel model{sim::Scenario{}};
    auto now = ArrivalClock::now();
    s.station->setClock([&now] { return now; });
    s.forwardCommands(model);
    {
        QFile earlier(dir.filePath(QStringLiteral("SN-CORE-20260101-080000.json")));
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write(R"({"format": "vitalon-module-test-report", "serialNumber": "SN-CORE"})");
    }

    PreparedModuleTest prepared =
        prepareModuleTest({"SN-CORE", "Ann", "", dir.path().toStdString(), " bench-9 "});
    ASSERT_TRUE(prepared.ok()) << prepared.message.toStdString();
    EXPECT_EQ(prepared.setup.station, "bench-9");
    std::unique_ptr<ModuleTestSession> session = s.station->makeModuleTest(prepared.setup);
    bool finished = false;
    QObject::connect(session.get(), &ModuleTestSession::finished, [&finished] { finished = true; });
    ASSERT_TRUE(session->start()) << session->error().toStdString();
    std::vector<std::uint8_t> bytes;
    while (!finished && now - ArrivalClock::now() < std::chrono::minutes(10)) {
        now += milliseconds(20);
        s.forwardCommands(model);
        bytes.clear();
        model.advance(milliseconds(20), bytes);
        s.link->receive(bytes, now);
    }
    ASSERT_TRUE(finished);
    const report::ReportWriteResult& written = session->reportResult();
    ASSERT_TRUE(written.ok) << written.error.toStdString();

    QFile jsonFile(written.paths.json);
    ASSERT_TRUE(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(jsonFile.readAll()).object();
    EXPECT_EQ(json["station"].toString(), "bench-9");
    EXPECT_FALSE(json["hostName"].toString().isEmpty());
    EXPECT_EQ(json["attempt"].toInt(), 2);
    EXPECT_FALSE(json["endedAt"].toString().isEmpty());
    EXPECT_FALSE(json["buildCommit"].toString().isEmpty());
    EXPECT_EQ(json["port"]["name"].toString(), "COM1");
    EXPECT_EQ(json["port"]["device"].toString(), kDevice);
    EXPECT_TRUE(json["port"]["usb"].toBool());
    EXPECT_EQ(json["port"]["vendorId"].toString(), "0403");
    EXPECT_EQ(json["port"]["productId"].toString(), "6001");
    EXPECT_EQ(json["port"]["serialNumber"].toString(), "A5XK3RJT");
    EXPECT_EQ(json["port"]["description"].toString(), "FT232R USB UART");

    // The test changes the rate, so the recording continues in more files;
    // each is listed with the hash of its bytes as they are on disk.
    const QJsonArray recordings = json["recordings"].toArray();
    ASSERT_GE(recordings.size(), 2);
    EXPECT_EQ(recordings[0]["file"].toString(), QFileInfo(session->recordingPath()).fileName());
    for (const QJsonValue recorded : recordings) {
        QFile file(dir.filePath(recorded["file"].toString()));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        EXPECT_EQ(
            recorded["sha256"].toString(),
            QString::fromLatin1(
                QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()));
    }

    recording::EdfReader reader;
    ASSERT_EQ(reader.open(session->recordingPath().toStdString()), "");
    EXPECT_NE(reader.header().recording.find("module SN-CORE COM1"), std::string::npos)
        << reader.header().recording;
}

// The station's name: typed or given on the command line, else the setting
// station/name, else the host name; never with a control character.
TEST(Station, StationNameComesFromTheEntryTheSettingOrTheHostName) {
    // The settings of this test process, not the user's; kept to the end of
    // the process, since later tests may read settings too.
    static QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    QTemporaryDir dir;
    const auto station = [&](std::string entry) {
        const PreparedModuleTest prepared =
            prepareModuleTest({"SN-1", "Ann", "", dir.path().toStdString(), std::move(entry)});
        EXPECT_TRUE(prepared.ok()) << prepared.message.toStdString();
        return prepared.setup.station;
    };
    EXPECT_EQ(station(""), QSysInfo::machineHostName().toStdString());
    {
        QSettings settings(QStringLiteral("vitalon"), QStringLiteral("vitalon"));
        settings.setValue(QStringLiteral("station/name"), QStringLiteral("  Line 3 bench A  "));
    }
    EXPECT_EQ(defaultStationName(), "Line 3 bench A");
    EXPECT_EQ(station("  "), "Line 3 bench A");
    EXPECT_EQ(station("bench-9"), "bench-9");
    const PreparedModuleTest hostile =
        prepareModuleTest({"SN-1", "Ann", "", dir.path().toStdString(), "bench\x1b[2J"});
    EXPECT_EQ(hostile.problem, EntryProblem::ControlCharacters);
    EXPECT_TRUE(hostile.message.startsWith(QStringLiteral("The station name")))
        << hostile.message.toStdString();
    QSettings(QStringLiteral("vitalon"), QStringLiteral("vitalon")).clear();
}

// A run on the fake link in virtual time, the model answering unless `silent`.
struct VirtualRun {
    explicit VirtualRun(bool quiet) : silent(quiet) {
        s.station->setClock([this] { return now; });
        s.forwardCommands(model);
        prepared = prepareModuleTest({"SN-RUN", "Ann", "", dir.path().toStdString()});
        session = s.station->makeModuleTest(prepared.setup);
        QObject::connect(session.get(), &ModuleTestSession::finished, [this] { finished = true; });
    }
    // Lets `span` of virtual time pass in 20 ms deliveries, or until the run ends.
    void pass(std::chrono::milliseconds span) {
        std::vector<std::uint8_t> bytes;
        for (auto left = span; left.count() > 0 && !finished; left -= milliseconds(20)) {
            now += milliseconds(20);
            s.forwardCommands(model);
            bytes.clear();
            model.advance(milliseconds(20), bytes);
            if (!silent) {
                s.link->receive(bytes, now);
            }
            session->progress();  // what the window and the command line read meanwhile
        }
    }

    bool silent;
    QTemporaryDir dir;
    FakeStation s;
    sim::ModuleModel model{sim::Scenario{}};
    ArrivalTime now = ArrivalClock::now();
    PreparedModuleTest prepared;
    std::unique_ptr<ModuleTestSession> session;
    bool finished = false;
};

TEST(Station, ACancelledRunRestoresTheModuleAndStillWritesItsReport) {
    VirtualRun run(false);
    ASSERT_TRUE(run.session->start());
    run.pass(std::chrono::seconds(20));
    ASSERT_FALSE(run.finished);
    const std::size_t sentBefore = run.s.link->writes.size();
    run.session->cancel();
    run.pass(std::chrono::seconds(30));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.session->runner().outcome(), analysis::TestOutcome::Cancelled);
    EXPECT_EQ(moduleTestExitCode(run.session->runner().outcome()), 130);
    EXPECT_GT(run.s.link->writes.size(), sentBefore);  // the restore went out
    EXPECT_EQ(run.s.station->settings().speed, 1);
    EXPECT_EQ(run.s.station->settings().mode, 0);
    EXPECT_TRUE(run.session->reportResult().ok) << run.session->reportResult().error.toStdString();
    EXPECT_TRUE(
        contains(chainAnnotationsOf(run.session->recordingPath().toStdString()), "Cancelled"));
}

TEST(Station, ARunWithNoModuleAnsweringEndsAsNotRun) {
    VirtualRun run(true);
    // Nothing arrives, so only the session's own timer ticks the run; each of
    // its ticks lets a second of virtual time pass.
    QObject::connect(run.session.get(), &ModuleTestSession::changed,
                     [&run] { run.now += std::chrono::seconds(1); });
    ASSERT_TRUE(run.session->start());
    ASSERT_TRUE(testing::waitFor([&run] { return run.finished; }, 30000));
    EXPECT_EQ(run.session->runner().outcome(), analysis::TestOutcome::NoModule);
    EXPECT_EQ(moduleTestExitCode(run.session->runner().outcome()), 2);
    EXPECT_GT(run.s.link->writes.size(), 6u);  // the test's commands went out all the same
    EXPECT_EQ(run.s.station->vitals().pulseRate, 0);
}

}  // namespace
}  // namespace vitalon
