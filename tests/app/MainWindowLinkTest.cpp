#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "EventLoopWait.h"
#include "MainWindow.h"
#include "PtyPair.h"
#include "ReviewControl.h"
#include "StartCommands.h"

namespace vitalon {
namespace {

using testing::waitFor;

using namespace std::chrono_literals;
using testing::PtyPair;

// Reads from the module's side while the program's event loop runs, since the
// port writes asynchronously.
std::string readLine(PtyPair& pty, std::size_t count, int timeoutMs = 5000) {
    std::string got;
    QElapsedTimer t;
    t.start();
    while (got.size() < count && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const auto bytes = pty.read(count - got.size(), 1ms);
        got.append(bytes.begin(), bytes.end());
    }
    return got;
}

PortAssignment onlyPort(int n, const std::string& path) {
    PortAssignment ports;
    ports[static_cast<std::size_t>(n - 1)] = PortDevice{path, {}};
    return ports;
}

std::string text(const QLabel* l) {
    return l->text().toStdString();
}

std::vector<bool> enabledItems(const MainWindow& f) {
    std::vector<bool> e;
    for (QAction* a : f.layout().portActions) {
        e.push_back(a->isEnabled());
    }
    return e;
}

std::vector<bool> checkedItems(const MainWindow& f) {
    std::vector<bool> c;
    for (QAction* a : f.layout().portActions) {
        c.push_back(a->isChecked());
    }
    return c;
}

const std::string kStart = testing::startCommandBytes();

TEST(MainWindowLink, StartUpOpensTheOnlyPortSendsTheStartCommandsAndDecodes) {
    PtyPair pty;
    MainWindow form(onlyPort(3, pty.slavePath()));
    EXPECT_TRUE(form.layout().pulseToneAction->isChecked());  // the design state, before start-up
    form.start();

    EXPECT_EQ(form.station().currentPort(), 3);
    EXPECT_EQ(enabledItems(form),
              (std::vector<bool>{false, false, true, false, false, false, false, false}));
    EXPECT_EQ(checkedItems(form),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));
    EXPECT_FALSE(form.layout().pulseToneAction->isChecked());
    EXPECT_EQ(form.statusText().toStdString(), "COM3 - " + pty.slavePath() + " - 9600,n,8,1");
    EXPECT_EQ(readLine(pty, kStart.size()), kStart);

    pty.write({120, 250, 72, 131, 249, 18, 251, 17});
    ASSERT_TRUE(waitFor([&] { return text(form.layout().statusLabel) == "Lead Off!"; }));
    EXPECT_EQ(text(form.layout().pulseLabel), "---");
    EXPECT_EQ(text(form.layout().respirationLabel), "18");
    EXPECT_EQ(form.station().vitals().pulseRate, 72);
    EXPECT_EQ(form.station().trace().pen().x, 2);
}

// Keyboard operation as a user without a mouse has it: Tab to a button, the
// space bar presses it. Nothing of the window may take the space bar for itself.
TEST(MainWindowLink, TheSpaceBarPressesEveryFocusedSettingButtonAndF9Freezes) {
    PtyPair pty;
    MainWindow form(onlyPort(2, pty.slavePath()));
    form.start();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(waitFor([&] { return form.isActiveWindow(); }));
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);

    const MainWindowLayout& ui = form.layout();
    const std::pair<QPushButton*, std::string> buttons[] = {
        {ui.speedButton, "S2"},    {ui.amplificationButton, "A2"}, {ui.filterButton, "6"},
        {ui.modeButton, "M"},      {ui.leadButton, "G2"},          {ui.curveButton, "D1"},
        {ui.calibrateButton, "C"},
    };
    for (const auto& [button, command] : buttons) {
        button->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(waitFor([&, b = button] { return b->hasFocus(); }))
            << button->objectName().toStdString();
        QTest::keyClick(button, Qt::Key_Space);
        EXPECT_EQ(readLine(pty, command.size()), command) << button->objectName().toStdString();
        EXPECT_FALSE(form.review().frozen());
    }
    EXPECT_EQ(text(ui.speedLabel), "50/sec");
    EXPECT_EQ(text(ui.modeLabel), "Simulate");

    // Freeze has a key of its own, also while a button has the focus.
    QTest::keyClick(ui.speedButton, ReviewControl::kFreezeKey);
    EXPECT_TRUE(form.review().frozen());
    QTest::keyClick(ui.speedButton, ReviewControl::kFreezeKey);
    EXPECT_FALSE(form.review().frozen());
    EXPECT_EQ(readLine(pty, 1, 200), "");  // and sends nothing
}

TEST(MainWindowLink, ButtonsSendOneCommandEachAndPortPicksSendNothing) {
    PtyPair pty;
    MainWindow form(onlyPort(2, pty.slavePath()));
    form.start();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);

    form.layout().speedButton->click();
    form.layout().calibrateButton->click();
    EXPECT_EQ(readLine(pty, 3), "S2C");
    EXPECT_EQ(text(form.layout().speedLabel), "50/sec");

    pty.holdSlave();  // keep the line up while the program closes and reopens it
    form.layout().portActions[1]->trigger();
    EXPECT_EQ(checkedItems(form),
              (std::vector<bool>{false, true, false, false, false, false, false, false}));
    EXPECT_EQ(form.station().currentPort(), 2);
    EXPECT_TRUE(form.link().isOpen());
    EXPECT_EQ(form.station().settings().speed, 2);
    EXPECT_EQ(readLine(pty, 1, 200), "");

    form.layout().leadButton->click();
    EXPECT_EQ(readLine(pty, 2), "G2");
}

TEST(MainWindowLink, FailedPickNamesPortDeviceAndReasonAndKeepsTheChecks) {
    PtyPair pty;
    PortAssignment ports = onlyPort(2, pty.slavePath());
    ports[4] = PortDevice{"/dev/vitalon-no-such-device", {}};
    MainWindow form(ports);
    form.start();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);

    // COM5 failed the scan and stays disabled; the menu cannot pick it.
    EXPECT_FALSE(form.layout().portActions[4]->isEnabled());
    form.layout().portActions[4]->trigger();
    EXPECT_TRUE(form.link().isOpen());

    // A device that vanishes between scan and pick.
    pty.holdSlave();
    const std::string link =
        (std::filesystem::temp_directory_path() / "vitalon-test-link").string();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.slavePath(), link);
    MainWindow second(onlyPort(4, link));
    second.start();
    std::filesystem::remove(link);
    second.layout().portActions[3]->trigger();
    const std::string status = second.statusText().toStdString();
    EXPECT_NE(status.find("COM4"), std::string::npos) << status;
    EXPECT_NE(status.find(link), std::string::npos) << status;
    EXPECT_FALSE(second.link().isOpen());
    EXPECT_EQ(checkedItems(second),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));

    // Back under the same path: the next pick works.
    std::filesystem::create_symlink(pty.slavePath(), link);
    second.layout().portActions[3]->trigger();
    EXPECT_TRUE(second.link().isOpen());
    EXPECT_TRUE(second.layout().portActions[3]->isChecked());
    std::filesystem::remove(link);
}

TEST(MainWindowLink, NoPortAtStartIsExplainedAndClicksSayNothingWasSent) {
    MainWindow form(PortAssignment{});
    form.start();
    EXPECT_EQ(form.station().currentPort(), 0);
    EXPECT_EQ(enabledItems(form), std::vector<bool>(8, false));
    EXPECT_NE(form.statusText().indexOf("no serial device"), -1) << form.statusText().toStdString();
    // However it is shown in the bar, the whole message is the panel's tooltip.
    EXPECT_EQ(form.layout().statusPanel->toolTip(), form.statusText());
    EXPECT_FALSE(form.layout().pulseToneAction->isChecked());
    EXPECT_EQ(form.station().settings().speed, 1);

    form.layout().amplificationButton->click();
    EXPECT_EQ(text(form.layout().amplificationLabel), "Amp 2");
    EXPECT_NE(form.statusText().indexOf("\"A2\" was not sent"), -1)
        << form.statusText().toStdString();
}

TEST(MainWindowLink, HangUpClosesThePortSaysSoAndTheWatchdogGoesStale) {
    PtyPair pty;
    MainWindow form(onlyPort(1, pty.slavePath()));
    form.start();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);

    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return !form.link().isOpen(); }));
    EXPECT_NE(form.statusText().indexOf("lost"), -1) << form.statusText().toStdString();
    for (int i = 0; i < 4; ++i) {
        form.station().watchdogTick();
    }
    EXPECT_EQ(text(form.layout().statusLabel), "No Data!");

    form.layout().speedButton->click();  // no crash, and the user is told
    EXPECT_NE(form.statusText().indexOf("not sent"), -1);
}

TEST(MainWindowLink, EndClosesThePortAndNothingIsHandledAfterwards) {
    PtyPair pty;
    MainWindow form(onlyPort(1, pty.slavePath()));
    form.start();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);
    form.quit();
    EXPECT_TRUE(form.station().ended());
    EXPECT_FALSE(form.link().isOpen());
    form.layout().speedButton->click();
    EXPECT_EQ(text(form.layout().speedLabel), "100/sec");
    EXPECT_FALSE(form.station().watchdogTimer().isActive());
}

}  // namespace
}  // namespace vitalon
