#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <functional>

#include "EventLoopWait.h"
#include "Form1.h"
#include "GraphWidget.h"
#include "SimProcess.h"
#include "SimulatedModule.h"

namespace vitalon {
namespace {

using testing::waitFor;

using namespace std::chrono_literals;

// Samples drawn per second of wall time, from the pen's progress (it wraps every 576).
double samplesPerSecond(const Form1& form, int windowMs) {
    int last = form.trace().pen().PlotX;
    long total = 0;
    QElapsedTimer t;
    t.start();
    waitFor(
        [&] {
            const int now = form.trace().pen().PlotX;
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
    Form1 form(simulatorOn(sim.devicePath()));
    form.Form_Load();
    ASSERT_EQ(form.PortNo(), 1);

    ASSERT_TRUE(waitFor([&] { return form.vitals().PulseRate != 0; }, 15000));
    EXPECT_NEAR(form.vitals().PulseRate, 75, 2);
    EXPECT_EQ(text(form.ui().Label1), std::to_string(form.vitals().PulseRate));
    EXPECT_EQ(text(form.ui().Label4), "OK!");

    const QImage& image = form.ui().Graph->image();
    const int x = form.trace().pen().PlotX - 1;
    bool traced = false;
    for (int y = 0; y < image.height() && x >= 0; ++y) {
        traced = traced || image.pixel(x, y) == form.ui().Graph->traceColor();
    }
    EXPECT_TRUE(traced) << "no trace pixel in column " << x;

    const double atS1 = samplesPerSecond(form, 1500);
    form.ui().Speed->click();  // "S2"
    form.ui().Speed->click();  // "S0"
    ASSERT_EQ(text(form.ui().Labelspeed), "300/sec");
    ASSERT_TRUE(
        waitFor([&] { return sim.errorOutput().find("received S0") != std::string::npos; }, 5000));
    const double atS0 = samplesPerSecond(form, 1500);
    EXPECT_NEAR(atS1, 100, 25);
    EXPECT_NEAR(atS0 / atS1, 3.0, 0.6) << atS1 << " then " << atS0 << " samples a second";
}

TEST(SimulatedModule, SilenceTurnsTheDisplayStaleAtTheFourthWatchdogTick) {
    testing::SimProcess sim({"--heart-rate", "90", "--silence", "5"});
    Form1 form(simulatorOn(sim.devicePath()));
    form.watchdogTimer().stop();  // the test drives the ticks itself
    form.Form_Load();
    ASSERT_TRUE(waitFor([&] { return form.vitals().PulseRate != 0; }, 15000));

    // Silence: the pen stops moving.
    int last = -1;
    QElapsedTimer still;
    ASSERT_TRUE(waitFor(
        [&] {
            if (form.trace().pen().PlotX != last) {
                last = form.trace().pen().PlotX;
                still.restart();
            }
            return still.isValid() && still.elapsed() > 500;
        },
        15000));

    for (int tick = 1; tick <= 3; ++tick) {
        form.Timer3_Timer();
        EXPECT_EQ(text(form.ui().Label4), "OK!") << "tick " << tick;
        EXPECT_FALSE(form.ui().Label1->text().isEmpty()) << "tick " << tick;
    }
    form.Timer3_Timer();
    EXPECT_EQ(text(form.ui().Label4), "No Data!");
    EXPECT_TRUE(form.ui().Label1->text().isEmpty());
    EXPECT_TRUE(form.ui().Label3->text().isEmpty());
}

TEST(SimulatedModule, InProcessModuleServesThePortAndTakesTheStartCommands) {
    SimulatedModule module(sim::Scenario{});
    Form1 form(simulatorOn(module.devicePath()));
    form.Form_Load();
    ASSERT_EQ(form.PortNo(), 1);
    ASSERT_TRUE(waitFor([&] { return module.model().counters().commands >= 6; }, 5000));
    ASSERT_TRUE(waitFor([&] { return form.trace().pen().PlotX > 20; }, 5000));

    form.ui().Curve->click();  // "D1": the module now sends the respiration curve
    ASSERT_TRUE(
        waitFor([&] { return module.model().settings().curve == sim::Curve::Respiration; }, 5000));
}

}  // namespace
}  // namespace vitalon
