#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <functional>

#include "EventLoopWait.h"
#include "GraphWidget.h"
#include "MainWindow.h"
#include "SimProcess.h"
#include "SimulatedModule.h"

namespace vitalon {
namespace {

using testing::waitFor;

using namespace std::chrono_literals;

// Samples drawn per second of wall time, from the pen's progress (it wraps every 576).
double samplesPerSecond(const MainWindow& form, int windowMs) {
    int last = form.station().trace().pen().x;
    long total = 0;
    QElapsedTimer t;
    t.start();
    waitFor(
        [&] {
            const int now = form.station().trace().pen().x;
            total += (now - last + 576) % 576;
            last = now;
            return false;
        },
        windowMs);
    return static_cast<double>(total) * 1000.0 / static_cast<double>(t.elapsed());
}

PortAssignment simulatorOn(const std::string& path) {
    PortAssignment ports;
    ports[0] = PortDevice{path, "vitalon-sim"};
    return ports;
}

std::string text(const QLabel* label) {
    return label->text().toStdString();
}

TEST(SimulatedModule, ShowsTheSetRateDrawsTheTraceAndFollowsTheSpeedButton) {
    testing::SimProcess sim({"--verbose", "--heart-rate", "75"});
    MainWindow form(simulatorOn(sim.devicePath()));
    form.start();
    ASSERT_EQ(form.station().currentPort(), 1);

    ASSERT_TRUE(waitFor([&] { return form.station().vitals().pulseRate != 0; }, 15000));
    EXPECT_NEAR(form.station().vitals().pulseRate, 75, 2);
    EXPECT_EQ(text(form.layout().pulseLabel), std::to_string(form.station().vitals().pulseRate));
    EXPECT_EQ(text(form.layout().statusLabel), "OK!");

    const QImage& image = form.layout().graph->image();
    const int x = form.station().trace().pen().x - 1;
    bool traced = false;
    for (int y = 0; y < image.height() && x >= 0; ++y) {
        traced = traced || image.pixel(x, y) == form.layout().graph->traceColor();
    }
    EXPECT_TRUE(traced) << "no trace pixel in column " << x;

    const double atS1 = samplesPerSecond(form, 1500);
    form.layout().speedButton->click();  // "S2"
    form.layout().speedButton->click();  // "S0"
    ASSERT_EQ(text(form.layout().speedLabel), "300/sec");
    ASSERT_TRUE(
        waitFor([&] { return sim.errorOutput().find("received S0") != std::string::npos; }, 5000));
    const double atS0 = samplesPerSecond(form, 1500);
    EXPECT_NEAR(atS1, 100, 25);
    EXPECT_NEAR(atS0 / atS1, 3.0, 0.6) << atS1 << " then " << atS0 << " samples a second";
}

TEST(SimulatedModule, SilenceTurnsTheDisplayStaleAtTheFourthWatchdogTick) {
    testing::SimProcess sim({"--heart-rate", "90", "--silence", "5"});
    MainWindow form(simulatorOn(sim.devicePath()));
    form.station().watchdogTimer().stop();  // the test drives the ticks itself
    form.start();
    ASSERT_TRUE(waitFor([&] { return form.station().vitals().pulseRate != 0; }, 15000));

    // Silence: the pen stops moving.
    int last = -1;
    QElapsedTimer still;
    ASSERT_TRUE(waitFor(
        [&] {
            if (form.station().trace().pen().x != last) {
                last = form.station().trace().pen().x;
                still.restart();
            }
            return still.isValid() && still.elapsed() > 500;
        },
        15000));

    for (int tick = 1; tick <= 3; ++tick) {
        form.station().watchdogTick();
        EXPECT_EQ(text(form.layout().statusLabel), "OK!") << "tick " << tick;
        EXPECT_FALSE(form.layout().pulseLabel->text().isEmpty()) << "tick " << tick;
    }
    form.station().watchdogTick();
    EXPECT_EQ(text(form.layout().statusLabel), "No Data!");
    EXPECT_TRUE(form.layout().pulseLabel->text().isEmpty());
    EXPECT_TRUE(form.layout().respirationLabel->text().isEmpty());
}

TEST(SimulatedModule, InProcessModuleServesThePortAndTakesTheStartCommands) {
    SimulatedModule module(sim::Scenario{});
    MainWindow form(simulatorOn(module.devicePath()));
    form.start();
    ASSERT_EQ(form.station().currentPort(), 1);
    ASSERT_TRUE(waitFor([&] { return module.model().counters().commands >= 6; }, 5000));
    ASSERT_TRUE(waitFor([&] { return form.station().trace().pen().x > 20; }, 5000));

    form.layout().curveButton->click();  // "D1": the module now sends the respiration curve
    ASSERT_TRUE(
        waitFor([&] { return module.model().settings().curve == sim::Curve::Respiration; }, 5000));
}

}  // namespace
}  // namespace vitalon
