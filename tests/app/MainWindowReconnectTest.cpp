// The window brings a pulled cable back by itself: pseudo-terminals behind
// symbolic links play the adapters, and a fake identity provider says which
// device each path leads to, so a device can come back under another link.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>

#include "EventLoopWait.h"
#include "MainWindow.h"
#include "Replug.h"
#include "StartCommands.h"

namespace vitalon {
namespace {

using namespace std::chrono_literals;
using testing::DeviceLink;
using testing::PtyPair;
using testing::waitFor;

const DeviceIdentity kModule = DeviceIdentity::usbAdapter(0x0403, 0x6001, "A5XK3RJT", {});
const DeviceIdentity kOtherAdapter = DeviceIdentity::usbAdapter(0x0403, 0x6001, "B7QQ01", {});

// Everything the module's side receives within `timeoutMs`, read while the event loop runs.
std::string received(PtyPair& pty, std::size_t count, int timeoutMs = 5000) {
    std::string got;
    waitFor(
        [&] {
            const auto bytes = pty.read(count - got.size(), 1ms);
            got.append(bytes.begin(), bytes.end());
            return got.size() >= count;
        },
        timeoutMs);
    return got;
}

PortAssignment ports(const std::vector<std::string>& paths) {
    PortAssignment assignment;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        assignment[i] = PortDevice{paths[i], {}};
    }
    return assignment;
}

std::string status(const MainWindow& form) {
    return form.statusText().toStdString();
}

// A window on COM1 = a link to the module's pseudo-terminal, with a fake
// identity provider and the user's changes of speed, filter and curve made.
class ReconnectTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings(QStringLiteral("vitalon"), QStringLiteral("vitalon")).clear();  // on by default
        module = std::make_unique<PtyPair>();
        link.pointTo(module->slavePath());
        devices.plug(link.path(), kModule);
    }

    void startOn(const PortAssignment& assignment) {
        form = std::make_unique<MainWindow>(assignment);
        form->station().reconnect().setDeviceProvider(devices);
        form->start();
        ASSERT_EQ(received(*module, 10), testing::startCommandBytes());
        form->layout().speedButton->click();
        form->layout().filterButton->click();
        form->layout().curveButton->click();
        ASSERT_EQ(received(*module, 5), "S26D1");
    }

    // The cable is pulled: the pseudo-terminal goes, and nothing is at the link.
    void pull() {
        module.reset();
        devices.unplug(link.path());
        ASSERT_TRUE(waitFor([&] { return !form->link().isOpen(); }, 10000));
    }

    // A device with `identity` appears behind `where`; returns its pseudo-terminal.
    std::unique_ptr<PtyPair> plugBack(DeviceLink& where, const DeviceIdentity& identity) {
        auto pty = std::make_unique<PtyPair>();
        where.pointTo(pty->slavePath());
        devices.plug(where.path(), identity);
        return pty;
    }

    // Milliseconds until the link is open again, or -1 after 5 s.
    qint64 msUntilReopened() {
        QElapsedTimer clock;
        clock.start();
        return waitFor([&] { return form->link().isOpen(); }, 5000) ? clock.elapsed() : -1;
    }

    DeviceLink link{"vitalon-reconnect"};
    FakeDeviceIdentityProvider devices;
    std::unique_ptr<PtyPair> module;
    std::unique_ptr<MainWindow> form;
};

// The selectors after the clicks: speed S2, amplification A1, filter 6, normal
// mode, lead G1, curve D1; each selector's explicit command in start-up order.
const std::string kRestore = "S2A16NG1D1";

TEST_F(ReconnectTest, SameDeviceBackUnderTheSameLinkIsReopenedAndSetAsTheWindowShows) {
    startOn(ports({link.path()}));
    std::vector<std::string> events;
    QObject::connect(
        &form->station().reconnect(), &ReconnectControl::connectionLost,
        [&](int port, const QString& path, const QString&) {
            events.push_back("lost COM" + std::to_string(port) + " " + path.toStdString());
        });
    QObject::connect(
        &form->station().reconnect(), &ReconnectControl::connectionReopened,
        [&](int port, const QString& path) {
            events.push_back("reopened COM" + std::to_string(port) + " " + path.toStdString());
        });

    pull();
    EXPECT_NE(status(*form).find("COM1 - " + link.path() + " was lost ("), std::string::npos)
        << status(*form);
    EXPECT_NE(status(*form).find("it is reopened by itself"), std::string::npos);
    EXPECT_TRUE(form->station().reconnect().watching());

    module = plugBack(link, kModule);
    const qint64 took = msUntilReopened();
    RecordProperty("reopened_after_ms", static_cast<int>(took));
    ASSERT_GE(took, 0) << status(*form);
    EXPECT_LT(took, 2000);
    EXPECT_EQ(received(*module, kRestore.size()), kRestore);
    EXPECT_EQ(status(*form), "COM1 - " + link.path() + " - 9600,n,8,1 (reconnected)");
    EXPECT_EQ(events, (std::vector<std::string>{"lost COM1 " + link.path(),
                                                "reopened COM1 " + link.path()}));
    // The labels were never touched, and data flows again.
    EXPECT_EQ(form->layout().speedLabel->text(), "50/sec");
    module->write({250, 80, 121});
    EXPECT_TRUE(waitFor([&] { return form->layout().pulseLabel->text() == "80"; }, 5000));
    EXPECT_FALSE(form->station().reconnect().watching());
}

TEST_F(ReconnectTest, SameDeviceBackUnderAnotherLinkIsReopenedThereAndThePortFollowsIt) {
    startOn(ports({link.path()}));
    pull();
    DeviceLink other("vitalon-reconnect-other");
    module = plugBack(other, kModule);
    ASSERT_GE(msUntilReopened(), 0) << status(*form);
    EXPECT_EQ(received(*module, kRestore.size()), kRestore);
    EXPECT_EQ(status(*form), "COM1 - " + other.path() + " - 9600,n,8,1 (reconnected)");
    EXPECT_EQ(form->layout().portActions[0]->statusTip().toStdString(), other.path());

    // COM1 stands for the new path now: a pick opens it there, and sends nothing.
    form->layout().portActions[0]->trigger();
    EXPECT_EQ(status(*form), "COM1 - " + other.path() + " - 9600,n,8,1");
    EXPECT_TRUE(module->read(1, 200ms).empty());
}

TEST_F(ReconnectTest, AnotherDeviceAtTheLostLinkIsNeverOpened) {
    startOn(ports({link.path()}));
    pull();
    auto stranger = plugBack(link, kOtherAdapter);
    ASSERT_TRUE(waitFor(
        [&] { return status(*form).find("another device is there now") != std::string::npos; },
        5000))
        << status(*form);
    EXPECT_FALSE(form->link().isOpen());
    EXPECT_TRUE(stranger->read(1, 200ms).empty());
    EXPECT_TRUE(form->station().reconnect().watching());

    // The module itself turns up elsewhere: that one is taken.
    DeviceLink other("vitalon-reconnect-other");
    module = plugBack(other, kModule);
    ASSERT_GE(msUntilReopened(), 0) << status(*form);
    EXPECT_EQ(received(*module, kRestore.size()), kRestore);
    EXPECT_TRUE(stranger->read(1, 100ms).empty());
}

TEST_F(ReconnectTest, DeviceBackButBusyOrForbiddenIsReportedAndOpensOnceFree) {
    startOn(ports({link.path()}));
    pull();
    module = plugBack(link, kModule);
    {
        // Another program with the same serial library holds it (its lock file).
        QSerialPort holder(QString::fromStdString(link.path()));
        ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
        ASSERT_TRUE(waitFor(
            [&] { return status(*form).find("in use by another program") != std::string::npos; },
            5000))
            << status(*form);
        EXPECT_NE(status(*form).find("tried again every second"), std::string::npos);
        EXPECT_TRUE(form->station().reconnect().watching());
    }
    ASSERT_GE(msUntilReopened(), 0) << status(*form);
    EXPECT_EQ(received(*module, kRestore.size()), kRestore);

    if (geteuid() == 0) {
        return;  // root opens a device whatever its mode; the end-to-end suite covers this
    }
    pull();
    module = plugBack(link, kModule);
    chmod(module->slavePath().c_str(), 0000);
    ASSERT_TRUE(
        waitFor([&] { return status(*form).find("permission denied") != std::string::npos; }, 5000))
        << status(*form);
    EXPECT_NE(status(*form).find("dialout group"), std::string::npos);
    chmod(module->slavePath().c_str(), 0600);
    ASSERT_GE(msUntilReopened(), 0) << status(*form);
    EXPECT_EQ(received(*module, kRestore.size()), kRestore);
}

TEST_F(ReconnectTest, SwitchedOffNothingReopensThePickWorksAndTheChoiceIsRemembered) {
    startOn(ports({link.path()}));
    QAction* toggle = form->layout().reconnectAction;
    ASSERT_TRUE(toggle->isChecked());
    toggle->trigger();
    EXPECT_FALSE(toggle->isChecked());

    pull();
    EXPECT_NE(status(*form).find("Pick the port again"), std::string::npos) << status(*form);
    EXPECT_FALSE(form->station().reconnect().watching());
    module = plugBack(link, kModule);
    EXPECT_FALSE(waitFor([&] { return form->link().isOpen(); }, 1500));

    form->layout().portActions[0]->trigger();
    EXPECT_EQ(status(*form), "COM1 - " + link.path() + " - 9600,n,8,1");
    EXPECT_TRUE(module->read(1, 200ms).empty());  // a pick sends nothing

    // Switched on after a loss, the lost device is watched for after all.
    pull();
    toggle->trigger();
    EXPECT_TRUE(form->station().reconnect().watching());
    EXPECT_NE(status(*form).find("it is reopened by itself"), std::string::npos) << status(*form);
    module = plugBack(link, kModule);
    ASSERT_GE(msUntilReopened(), 0) << status(*form);
    EXPECT_EQ(received(*module, kRestore.size()), kRestore);

    // The choice outlives the window; --no-reconnect turns it off for one run only.
    toggle->trigger();
    form.reset();
    MainWindow next(ports({link.path()}));
    EXPECT_FALSE(next.layout().reconnectAction->isChecked());
    next.layout().reconnectAction->trigger();
    MainWindow third(ports({link.path()}));
    EXPECT_TRUE(third.layout().reconnectAction->isChecked());
    third.station().reconnect().disableForThisRun();
    EXPECT_FALSE(third.layout().reconnectAction->isChecked());
    MainWindow fourth(ports({link.path()}));
    EXPECT_TRUE(fourth.layout().reconnectAction->isChecked());
}

TEST_F(ReconnectTest, APickOfAnotherPortEndsTheWatchForTheOldDevice) {
    PtyPair second;
    devices.plug(second.slavePath(), DeviceIdentity::devicePath(second.slavePath()));
    startOn(ports({link.path(), second.slavePath()}));
    pull();
    ASSERT_TRUE(form->station().reconnect().watching());
    // The lost port itself, picked before its device is back: the watch goes on.
    form->layout().portActions[0]->trigger();
    EXPECT_NE(status(*form).find("COM1 could not be opened"), std::string::npos) << status(*form);
    EXPECT_TRUE(form->station().reconnect().watching());

    form->layout().portActions[1]->trigger();
    EXPECT_EQ(form->station().currentPort(), 2);
    EXPECT_FALSE(form->station().reconnect().watching());

    module = plugBack(link, kModule);
    EXPECT_FALSE(waitFor([&] { return form->station().currentPort() != 2; }, 1500));
    EXPECT_TRUE(module->read(1, 100ms).empty());
}

// Numbered from the system's list, COM1 is the module and COM2 has no device;
// an adapter plugged in later gets COM2.
TEST_F(ReconnectTest, AdapterPluggedAfterStartUpEnablesItsItemAndRemovedDisablesIt) {
    form = std::make_unique<MainWindow>(ports({link.path()}));
    form->station().reconnect().setDeviceProvider(devices);
    form->station().reconnect().setFollowsPortList(true);
    form->start();
    ASSERT_EQ(received(*module, 10), testing::startCommandBytes());
    QAction* com2 = form->layout().portActions[1];
    EXPECT_FALSE(com2->isEnabled());

    PtyPair adapter;
    devices.plug(adapter.slavePath(), kOtherAdapter, "CP2102 USB to UART");
    ASSERT_TRUE(waitFor([&] { return com2->isEnabled(); }, 3000));
    EXPECT_EQ(com2->statusTip().toStdString(), adapter.slavePath() + " - CP2102 USB to UART");
    EXPECT_EQ(com2->toolTip(), com2->statusTip());
    com2->trigger();
    EXPECT_EQ(status(*form), "COM2 - " + adapter.slavePath() + " - 9600,n,8,1");

    form->layout().portActions[0]->trigger();  // back to the module
    devices.unplug(adapter.slavePath());
    ASSERT_TRUE(waitFor([&] { return !com2->isEnabled(); }, 3000));
    EXPECT_EQ(com2->statusTip().toStdString(),
              adapter.slavePath() + " - CP2102 USB to UART (unplugged)");
    EXPECT_TRUE(form->layout().portActions[0]->isEnabled());  // the start-up item keeps its state
}

// The system's own identities: a terminal named by its number is lost for
// good, and the status bar says why instead of promising a reconnect.
TEST(MainWindowReconnect, ALostBarePseudoTerminalIsExplainedAndNotWatchedFor) {
    QSettings(QStringLiteral("vitalon"), QStringLiteral("vitalon")).clear();  // on by default
    auto pty = std::make_unique<PtyPair>();
    const std::string node = pty->slavePath();
    MainWindow form(ports({node}));
    form.start();
    ASSERT_EQ(received(*pty, 10), testing::startCommandBytes());
    pty.reset();
    ASSERT_TRUE(waitFor([&] { return !form.link().isOpen(); }, 10000));
    EXPECT_EQ(status(form).rfind("COM1 - " + node + " was lost (", 0), 0u) << status(form);
    EXPECT_NE(status(form).find("is not reopened by itself"), std::string::npos) << status(form);
    EXPECT_FALSE(form.station().reconnect().watching());
}

}  // namespace
}  // namespace vitalon
