// Recording, replay, freeze and pictures from the window, in process: the
// real window on the real serial path (pseudo-terminals), files read back
// with the program's own reader.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <QAction>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>

#include "EdfReader.h"
#include "EventLoopWait.h"
#include "GraphWidget.h"
#include "MainWindow.h"
#include "PtyPair.h"
#include "RecordingControl.h"
#include "ReplayStream.h"
#include "ReviewControl.h"
#include "SimulatedModule.h"
#include "StartCommands.h"
#include "StreamListener.h"

namespace vitalon {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::waitFor;

const std::string kStart = testing::startCommandBytes();

PortAssignment onlyPort(const std::string& path) {
    PortAssignment ports;
    ports[0] = PortDevice{path, {}};
    return ports;
}

std::string readFromProgram(PtyPair& pty, std::size_t count) {
    std::string got;
    waitFor([&] {
        const auto bytes = pty.read(count - got.size(), 1ms);
        got.append(bytes.begin(), bytes.end());
        return got.size() >= count;
    });
    return got;
}

// Every annotation text of a file, with its onset.
std::vector<recording::EdfAnnotation> annotationsOf(const std::string& path) {
    recording::EdfReader reader;
    EXPECT_EQ(reader.open(path), "") << path;
    std::vector<recording::EdfAnnotation> all;
    recording::EdfRecord record;
    for (std::uint64_t i = 0; i < reader.header().usableRecords; ++i) {
        if (reader.readAnnotations(i, record)) {
            all.insert(all.end(), record.annotations.begin(), record.annotations.end());
        }
    }
    return all;
}

bool hasAnnotation(const std::vector<recording::EdfAnnotation>& all, const std::string& text) {
    return std::any_of(all.begin(), all.end(), [&](const auto& a) { return a.text == text; });
}

// What the labels showed after each decoded event, when it changed, with the
// number of samples received before it and the time since the first event.
struct LabelTimeline : StreamListener {
    explicit LabelTimeline(const MainWindow& shown) : window(shown) {}
    struct Change {
        std::uint64_t samples;
        std::chrono::steady_clock::duration at;
        std::string labels;
    };
    void onSample(std::uint8_t) override {
        began();
        ++samples;
    }
    void onPulse(std::uint8_t) override { look(); }
    void onRespiration(std::uint8_t) override { look(); }
    void onStatus(std::uint8_t) override { look(); }
    void began() {
        if (!started) {
            started = true;
            first = std::chrono::steady_clock::now();
        }
    }
    void look() {
        began();
        const auto& ui = window.layout();
        std::string now = ui.pulseLabel->text().toStdString() + "|" +
                          ui.respirationLabel->text().toStdString() + "|" +
                          ui.statusLabel->text().toStdString();
        if (changes.empty() || changes.back().labels != now) {
            changes.push_back({samples, std::chrono::steady_clock::now() - first, now});
        }
    }
    const MainWindow& window;
    std::uint64_t samples = 0;
    bool started = false;
    std::chrono::steady_clock::time_point first;
    std::vector<Change> changes;
};

TEST(RecordingWindow, ReplayShowsTheRecordedLabelsAtTheirTimesAndTheSameTrace) {
    QTemporaryDir dir;
    const QString path = dir.filePath("session.edf");

    // A session with a lead coming off and back, recorded from its first sample.
    sim::Scenario scenario;
    scenario.heartRate = 90;
    scenario.leadOff = {4.0, 6.5};
    SimulatedModule module(scenario);
    MainWindow original(onlyPort(module.devicePath()));
    LabelTimeline seen(original);
    original.station().decoder().addListener(seen);
    original.start();
    ASSERT_TRUE(original.recording().startRecording(path));
    ASSERT_TRUE(waitFor([&] { return seen.samples >= 900; }, 20000));
    original.recording().stopRecording();
    const QImage recordedTrace = original.layout().graph->image().copy();
    const auto recordedSamples = static_cast<std::uint64_t>(
        std::llround(original.recording().recorder().recordedSeconds() * 100));
    ASSERT_EQ(recordedSamples, seen.samples);
    original.quit();

    recording::ReplaySource source;
    ASSERT_EQ(source.open(path.toStdString()), "");
    SimulatedModule player(std::make_unique<recording::ReplayStream>(std::move(source)));
    MainWindow replayed(onlyPort(player.devicePath()));
    LabelTimeline shown(replayed);
    replayed.station().decoder().addListener(shown);
    replayed.start();
    ASSERT_TRUE(waitFor([&] { return shown.samples >= recordedSamples; }, 20000))
        << shown.samples << " of " << recordedSamples << " samples shown; "
        << player.stats().bytesWritten << " bytes served, " << player.stats().bytesDropped
        << " dropped";

    ASSERT_EQ(shown.changes.size(), seen.changes.size());
    for (std::size_t i = 0; i < seen.changes.size(); ++i) {
        EXPECT_EQ(shown.changes[i].labels, seen.changes[i].labels) << "change " << i;
        // A report that came before the first sample is replayed right after it.
        EXPECT_EQ(shown.changes[i].samples, std::max<std::uint64_t>(seen.changes[i].samples, 1))
            << "change " << i;
        EXPECT_LE(std::chrono::abs(shown.changes[i].at - seen.changes[i].at), 2s) << "change " << i;
    }
    EXPECT_TRUE(std::any_of(seen.changes.begin(), seen.changes.end(), [](const auto& c) {
        return c.labels.find("Lead Off!") != std::string::npos;
    }));
    EXPECT_EQ(replayed.layout().graph->image(), recordedTrace);
}

TEST(RecordingWindow, CommandsWatchdogAndFreezeAreAnnotatedAndASpeedChangeStartsTheNextFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("marks.edf");
    PtyPair pty;
    MainWindow form(onlyPort(pty.slavePath()));
    form.station().watchdogTimer().stop();  // the test ticks the watchdog itself
    form.start();
    ASSERT_EQ(readFromProgram(pty, kStart.size()), kStart);

    const QString title = form.windowTitle();
    ASSERT_TRUE(form.recording().startRecording(path));
    EXPECT_NE(form.windowTitle(), title);
    const auto* panel = form.findChild<QLabel*>(QStringLiteral("recordingPanel"));
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->text().contains(QStringLiteral("marks.edf"))) << panel->text().toStdString();

    pty.write({120, 121, 250, 72, 122});
    ASSERT_TRUE(waitFor([&] { return form.station().vitals().pulseRate == 72; }));
    form.layout().calibrateButton->click();
    form.layout().leadButton->click();  // G2
    for (int i = 0; i < 4; ++i) {
        form.station().watchdogTick();
    }
    pty.write({123, 250, 75, 124});
    ASSERT_TRUE(waitFor([&] { return form.station().vitals().pulseRate == 75; }));
    form.station().watchdogTick();
    form.review().setFrozen(true);
    form.review().setFrozen(false);
    form.layout().speedButton->click();  // S2: 50 a second, the next file
    pty.write({125, 126});
    ASSERT_TRUE(waitFor([&] { return form.station().trace().pen().x == 7; }));
    ASSERT_EQ(form.recording().recorder().files().size(), 2u);
    form.recording().stopRecording();
    EXPECT_EQ(form.windowTitle(), title);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(form.statusText().startsWith(QStringLiteral("Recording saved")));

    const auto first = annotationsOf(path.toStdString());
    for (const char* text :
         {"C: Calibration pulse", "G2: Lead I", "Watchdog stale: No Data!", "Watchdog live",
          "Freeze", "Unfreeze", "S2: 50/sec", "Pulse 72", "Next file marks-2.edf"}) {
        EXPECT_TRUE(hasAnnotation(first, text)) << text;
    }
    recording::EdfReader next;
    ASSERT_EQ(next.open(dir.filePath("marks-2.edf").toStdString()), "");
    EXPECT_EQ(next.header().signalList[0].label, "ECG I");
    EXPECT_EQ(next.header().signalList[0].samplesPerRecord, 50u);
}

TEST(RecordingWindow, ALostLinkIsMarkedAndTheRecordingGoesOn) {
    QTemporaryDir dir;
    const QString path = dir.filePath("lost.edf");
    PtyPair pty;
    MainWindow form(onlyPort(pty.slavePath()));
    form.start();
    ASSERT_EQ(readFromProgram(pty, kStart.size()), kStart);
    ASSERT_TRUE(form.recording().startRecording(path));
    pty.write({120, 121, 122});
    ASSERT_TRUE(waitFor([&] { return form.station().trace().pen().x == 3; }));
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return !form.link().isOpen(); }));
    EXPECT_TRUE(form.recording().isRecording());
    form.recording().stopRecording();
    const auto marks = annotationsOf(path.toStdString());
    EXPECT_TRUE(std::any_of(marks.begin(), marks.end(), [](const auto& a) {
        return a.text.rfind("Link lost: ", 0) == 0 && a.onset > 0.015 && a.onset < 0.025;
    }));
}

TEST(RecordingWindow, AWriteErrorStopsTheRecordingAndTheMonitorCarriesOn) {
    QTemporaryDir dir;
    PtyPair pty;
    MainWindow form(onlyPort(pty.slavePath()));
    form.start();
    ASSERT_EQ(readFromProgram(pty, kStart.size()), kStart);
    ASSERT_TRUE(form.recording().startRecording(dir.filePath("full.edf")));

    // A file size limit stands in for a full disk: writes beyond it fail.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit small = previous;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    std::vector<std::uint8_t> seconds(100 * 10, 120);
    pty.write(seconds);
    const bool stopped = waitFor([&] { return !form.recording().isRecording(); }, 8000);
    setrlimit(RLIMIT_FSIZE, &previous);
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(form.statusText().startsWith(QStringLiteral("Recording stopped")))
        << form.statusText().toStdString();
    EXPECT_FALSE(form.windowTitle().contains(QStringLiteral("Recording")));

    const int pen = form.station().trace().pen().x;
    pty.write({130, 250, 66});
    EXPECT_TRUE(waitFor([&] { return form.station().vitals().pulseRate == 66; }));
    EXPECT_EQ(form.station().trace().pen().x, pen + 1);

    // The file that is left is valid and holds what reached the disk.
    recording::EdfReader reader;
    ASSERT_EQ(reader.open(dir.filePath("full.edf").toStdString()), "");
    EXPECT_TRUE(reader.header().consistent());
}

// The menu's save dialog confirms overwriting an existing file, so that file
// is recorded over; a file the replay has open never is, whatever its name.
TEST(RecordingWindow, TheMenuRecordsOverAConfirmedFileButNeverOverTheReplay) {
    QTemporaryDir dir;
    PtyPair pty;
    MainWindow form(onlyPort(pty.slavePath()));
    form.start();
    ASSERT_EQ(readFromProgram(pty, kStart.size()), kStart);
    auto* start = form.findChild<QAction*>(QStringLiteral("menRecordStart"));
    ASSERT_NE(start, nullptr);

    const QString earlier = dir.filePath("earlier.edf");
    std::ofstream(earlier.toStdString()) << "an earlier recording";
    form.recording().askPath = [&](const QString&) { return earlier; };
    start->trigger();
    ASSERT_TRUE(form.recording().isRecording()) << form.statusText().toStdString();
    form.recording().stopRecording();
    recording::EdfReader reader;
    EXPECT_EQ(reader.open(earlier.toStdString()), "") << "the confirmed file was recorded over";

    const QString replayed = dir.filePath("replayed.edf");
    std::ofstream(replayed.toStdString()) << "being replayed";
    const QString link = dir.filePath("link.edf");
    ASSERT_TRUE(QFile::link(replayed, link));
    form.station().recording().filesInUse = [&] {
        return std::vector<std::string>{replayed.toStdString()};
    };
    form.recording().askPath = [&](const QString&) { return link; };
    start->trigger();
    EXPECT_FALSE(form.recording().isRecording());
    EXPECT_TRUE(form.statusText().contains(QStringLiteral("it is the file being replayed")))
        << form.statusText().toStdString();
    std::ifstream in(replayed.toStdString());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "being replayed");
}

TEST(ReviewControl, FreezeHoldsTheTraceWhileTheLabelsGoOnAndResumesAtTheLivePosition) {
    PtyPair pty;
    MainWindow form(onlyPort(pty.slavePath()));
    form.start();
    ASSERT_EQ(readFromProgram(pty, kStart.size()), kStart);
    pty.write({100, 110, 120, 130});
    ASSERT_TRUE(waitFor([&] { return form.station().trace().pen().x == 4; }));

    auto* freeze = form.findChild<QAction*>(QStringLiteral("menFreeze"));
    ASSERT_NE(freeze, nullptr);
    EXPECT_EQ(freeze->shortcut(), QKeySequence(Qt::Key_F9));
    freeze->trigger();
    EXPECT_TRUE(form.review().frozen());
    const auto* frozenPanel = form.findChild<QLabel*>(QStringLiteral("freezePanel"));
    ASSERT_NE(frozenPanel, nullptr);
    EXPECT_EQ(frozenPanel->text(), "Frozen");
    EXPECT_FALSE(frozenPanel->isHidden());

    const QImage held = form.layout().graph->image().copy();
    pty.write({200, 10, 200, 10, 250, 81, 249, 17, 200, 10});
    ASSERT_TRUE(waitFor([&] { return form.station().trace().pen().x == 10; }));
    EXPECT_EQ(form.layout().graph->image(), held);
    EXPECT_EQ(form.layout().pulseLabel->text(), "81");
    EXPECT_EQ(form.layout().respirationLabel->text(), "17");

    freeze->trigger();
    EXPECT_FALSE(form.review().frozen());
    EXPECT_TRUE(frozenPanel->isHidden());
    pty.write({240});
    ASSERT_TRUE(waitFor([&] { return form.station().trace().pen().x == 11; }));
    const QImage& live = form.layout().graph->image();
    EXPECT_NE(live, held);
    // Drawn from the level of the last sample counted while frozen (10) up to
    // 240 at the live column; the columns passed while frozen stay as they were.
    const QRgb traceColor = form.layout().graph->traceColor();
    EXPECT_EQ(live.pixel(11, 256 - 240), traceColor);
    EXPECT_EQ(live.pixel(10, 256 - 10), traceColor);
    for (int x = 5; x < 10; ++x) {
        for (int y = 0; y < live.height(); ++y) {
            ASSERT_EQ(live.pixel(x, y), held.pixel(x, y)) << x << "," << y;
        }
    }
}

TEST(ReviewControl, SavePictureWritesThePngOfTheWindowOrSaysWhyNot) {
    QTemporaryDir dir;
    MainWindow form(PortAssignment{});
    form.start();
    form.show();
    const QString path = dir.filePath("window.png");
    form.review().askPath = [&](const QString& suggested) {
        EXPECT_TRUE(suggested.endsWith(QStringLiteral(".png")));
        return path;
    };
    form.findChild<QAction*>(QStringLiteral("menSavePicture"))->trigger();
    QImage picture(path);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), form.grab().size());
    EXPECT_TRUE(form.statusText().contains(path));

    EXPECT_FALSE(form.review().savePicture(dir.filePath("no-such-folder/window.png")));
    EXPECT_TRUE(form.statusText().startsWith(QStringLiteral("Picture not saved")));
}

}  // namespace
}  // namespace vitalon
