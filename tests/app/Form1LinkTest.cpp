#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "EventLoopWait.h"
#include "Form1.h"
#include "PtyPair.h"

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

std::vector<bool> enabledItems(const Form1& f) {
    std::vector<bool> e;
    for (QAction* a : f.ui().setCOM) {
        e.push_back(a->isEnabled());
    }
    return e;
}

std::vector<bool> checkedItems(const Form1& f) {
    std::vector<bool> c;
    for (QAction* a : f.ui().setCOM) {
        c.push_back(a->isChecked());
    }
    return c;
}

const std::string kStart = "S1A15NG1D0";

TEST(Form1Link, StartUpOpensTheOnlyPortSendsTheStartCommandsAndDecodes) {
    PtyPair pty;
    Form1 form(onlyPort(3, pty.slavePath()));
    EXPECT_TRUE(form.ui().setBeep->isChecked());  // the design state, before start-up
    form.Form_Load();

    EXPECT_EQ(form.PortNo(), 3);
    EXPECT_EQ(enabledItems(form),
              (std::vector<bool>{false, false, true, false, false, false, false, false}));
    EXPECT_EQ(checkedItems(form),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));
    EXPECT_FALSE(form.ui().setBeep->isChecked());
    EXPECT_EQ(form.statusText().toStdString(), "COM3 - " + pty.slavePath() + " - 9600,n,8,1");
    EXPECT_EQ(readLine(pty, kStart.size()), kStart);

    pty.write({120, 250, 72, 131, 249, 18, 251, 17});
    ASSERT_TRUE(waitFor([&] { return text(form.ui().Label4) == "Lead Off!"; }));
    EXPECT_EQ(text(form.ui().Label1), "---");
    EXPECT_EQ(text(form.ui().Label3), "18");
    EXPECT_EQ(form.vitals().PulseRate, 72);
    EXPECT_EQ(form.trace().pen().PlotX, 2);
}

TEST(Form1Link, ButtonsSendOneCommandEachAndPortPicksSendNothing) {
    PtyPair pty;
    Form1 form(onlyPort(2, pty.slavePath()));
    form.Form_Load();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);

    form.ui().Speed->click();
    form.ui().Calibrate->click();
    EXPECT_EQ(readLine(pty, 3), "S2C");
    EXPECT_EQ(text(form.ui().Labelspeed), "50/sec");

    pty.holdSlave();  // keep the line up while the program closes and reopens it
    form.ui().setCOM[1]->trigger();
    EXPECT_EQ(checkedItems(form),
              (std::vector<bool>{false, true, false, false, false, false, false, false}));
    EXPECT_EQ(form.PortNo(), 2);
    EXPECT_TRUE(form.port().PortOpen());
    EXPECT_EQ(form.settings().SpeedSel, 2);
    EXPECT_EQ(readLine(pty, 1, 200), "");

    form.ui().Channel->click();
    EXPECT_EQ(readLine(pty, 2), "G2");
}

TEST(Form1Link, FailedPickNamesPortDeviceAndReasonAndKeepsTheChecks) {
    PtyPair pty;
    PortAssignment ports = onlyPort(2, pty.slavePath());
    ports[4] = PortDevice{"/dev/vitalon-no-such-device", {}};
    Form1 form(ports);
    form.Form_Load();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);

    // COM5 failed the scan and stays disabled; the menu cannot pick it.
    EXPECT_FALSE(form.ui().setCOM[4]->isEnabled());
    form.ui().setCOM[4]->trigger();
    EXPECT_TRUE(form.port().PortOpen());

    // A device that vanishes between scan and pick.
    pty.holdSlave();
    const std::string link =
        (std::filesystem::temp_directory_path() / "vitalon-test-link").string();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.slavePath(), link);
    Form1 second(onlyPort(4, link));
    second.Form_Load();
    std::filesystem::remove(link);
    second.ui().setCOM[3]->trigger();
    const std::string status = second.statusText().toStdString();
    EXPECT_NE(status.find("COM4"), std::string::npos) << status;
    EXPECT_NE(status.find(link), std::string::npos) << status;
    EXPECT_FALSE(second.port().PortOpen());
    EXPECT_EQ(checkedItems(second),
              (std::vector<bool>{true, false, false, false, false, false, false, false}));

    // Back under the same path: the next pick works.
    std::filesystem::create_symlink(pty.slavePath(), link);
    second.ui().setCOM[3]->trigger();
    EXPECT_TRUE(second.port().PortOpen());
    EXPECT_TRUE(second.ui().setCOM[3]->isChecked());
    std::filesystem::remove(link);
}

TEST(Form1Link, NoPortAtStartIsExplainedAndClicksSayNothingWasSent) {
    Form1 form(PortAssignment{});
    form.Form_Load();
    EXPECT_EQ(form.PortNo(), 0);
    EXPECT_EQ(enabledItems(form), std::vector<bool>(8, false));
    EXPECT_NE(form.statusText().indexOf("no serial device"), -1) << form.statusText().toStdString();
    EXPECT_FALSE(form.ui().setBeep->isChecked());
    EXPECT_EQ(form.settings().SpeedSel, 1);

    form.ui().Amplification->click();
    EXPECT_EQ(text(form.ui().LabelAmp), "Amp 2");
    EXPECT_NE(form.statusText().indexOf("\"A2\" was not sent"), -1)
        << form.statusText().toStdString();
}

TEST(Form1Link, HangUpClosesThePortSaysSoAndTheWatchdogGoesStale) {
    PtyPair pty;
    Form1 form(onlyPort(1, pty.slavePath()));
    form.Form_Load();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);

    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return !form.port().PortOpen(); }));
    EXPECT_NE(form.statusText().indexOf("lost"), -1) << form.statusText().toStdString();
    for (int i = 0; i < 4; ++i) {
        form.Timer3_Timer();
    }
    EXPECT_EQ(text(form.ui().Label4), "No Data!");

    form.ui().Speed->click();  // no crash, and the user is told
    EXPECT_NE(form.statusText().indexOf("not sent"), -1);
}

TEST(Form1Link, EndClosesThePortAndNothingIsHandledAfterwards) {
    PtyPair pty;
    Form1 form(onlyPort(1, pty.slavePath()));
    form.Form_Load();
    ASSERT_EQ(readLine(pty, kStart.size()), kStart);
    form.menEnde();
    EXPECT_TRUE(form.ended());
    EXPECT_FALSE(form.port().PortOpen());
    form.ui().Speed->click();
    EXPECT_EQ(text(form.ui().Labelspeed), "100/sec");
    EXPECT_FALSE(form.watchdogTimer().isActive());
}

}  // namespace
}  // namespace vitalon
