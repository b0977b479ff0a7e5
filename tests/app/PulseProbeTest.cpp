#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>

#include "EventLoopWait.h"
#include "MainWindow.h"
#include "MainWindowLayout.h"
#include "PtyPair.h"
#include "PulseProbe.h"

namespace vitalon {
namespace {

using testing::waitFor;

TEST(PulseProbe, QuitsOnlyOnceARateAboveZeroIsPaintedAndPrintsIt) {
    testing::PtyPair pty;
    PortAssignment ports;
    ports[0] = PortDevice{pty.slavePath(), {}};
    MainWindow window(ports);
    const PulseProbe probe(window.layout().pulseLabel, [&window] { window.quit(); });
    window.start();
    window.show();
    ::testing::internal::CaptureStdout();

    // A rate of 0 is painted as "0" but is no pulse: the program runs on.
    pty.write({250, 0});
    ASSERT_TRUE(waitFor([&] { return window.layout().pulseLabel->text() == "0"; }));
    QElapsedTimer idle;
    idle.start();
    waitFor([&] { return idle.elapsed() > 200; });
    EXPECT_TRUE(window.isVisible());

    pty.write({250, 72});
    EXPECT_TRUE(waitFor([&] { return !window.isVisible(); }));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "pulse 72\n");
}

}  // namespace
}  // namespace vitalon
