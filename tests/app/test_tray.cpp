// The operator surface on a real X server with a window manager and a system tray (run by
// scripts/with-tray): real clicks on the tray icon, minimising and closing
// the window, Exit reaching a running machine's queue, and screenshots of the
// debug window and of the open tray menu, each checked against the widgets'
// state. The pictures go to ZOR_SCREENSHOT_DIR.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QWindow>
#include <vector>

#include "LogTrace.h"
#include "SurfaceSupport.h"
#include "TestMachine.h"

namespace {

// Runs an X tool while the event loop goes on (clicks need the application
// to answer); true when it ran and succeeded.
bool RunTool(const QString& program, const QStringList& args, QString* output = nullptr) {
    QProcess tool;
    tool.start(program, args);
    if (!tool.waitForStarted(5000)) return false;
    WaitFor([&] { return tool.state() == QProcess::NotRunning; }, 20000);
    if (output) *output = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// The visible debug window of process `pid`, or an empty text. The process
// also owns the tray icon's small window, docked in the tray.
QString VisibleWindowOf(qint64 pid) {
    QString ids;
    RunTool("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)}, &ids);
    for (const QString& id : ids.split('\n', Qt::SkipEmptyParts)) {
        QString shape;
        RunTool("xdotool", {"getwindowgeometry", "--shell", id}, &shape);
        const QString width = shape.section("WIDTH=", 1).section('\n', 0, 0);
        if (width.toInt() > 100) return id;
    }
    return {};
}

bool Click(const QPoint& at, int button, int times = 1) {
    return RunTool("xdotool",
                   {"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                    "--repeat", QString::number(times), "--delay", "120", QString::number(button)});
}

// A screenshot of part of the screen, as the X server has it.
bool Shoot(const QString& name, const QRect& area) {
    QDir().mkpath(ZOR_SCREENSHOT_DIR);
    const QRect a = area.intersected(QGuiApplication::primaryScreen()->geometry());
    const QString crop =
        QString("%1x%2+%3+%4").arg(a.width()).arg(a.height()).arg(a.x()).arg(a.y());
    return RunTool("import", {"-window", "root", "-crop", crop, "+repage",
                              QString(ZOR_SCREENSHOT_DIR) + "/" + name});
}

class Tray : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
            << "no system tray on " << qgetenv("DISPLAY").toStdString();
        zor = StartZor({"-debug", "31"});
        ASSERT_NE(zor->TrayIcon(), nullptr);
        tray = zor->TrayIcon();
        // Docked: the icon has its place in the tray, which with-tray puts at
        // the top right; until then it is an unplaced window at the origin.
        ASSERT_TRUE(WaitFor([&] {
            const QRect g = tray->geometry();
            return !g.isEmpty() && g.topLeft() != QPoint(0, 0);
        }));
        ASSERT_TRUE(WaitFor([&] { return zor->windowHandle()->isExposed(); }));
        QObject::connect(tray, &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason r) { reasons.push_back(r); });
    }
    void TearDown() override {
        if (zor && zor->TrayMenu()) zor->TrayMenu()->hide();
    }
    QPoint IconCentre() const { return tray->geometry().center(); }
    bool Seen(QSystemTrayIcon::ActivationReason r) const { return Count(r) > 0; }
    long Count(QSystemTrayIcon::ActivationReason r) const {
        return std::count(reasons.begin(), reasons.end(), r);
    }
    // Clicks the icon `times` in a row until it reports `reason`. While the
    // tray still lays out a new icon a click can miss it; a missed click
    // reports nothing, so it is simply tried again.
    bool ClickIconUntil(QSystemTrayIcon::ActivationReason reason, int times) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!Click(IconCentre(), 1, times)) return false;
            if (WaitFor([&] { return Seen(reason); }, 3000)) return true;
        }
        return false;
    }

    std::unique_ptr<ZOR> zor;
    QSystemTrayIcon* tray = nullptr;
    std::vector<QSystemTrayIcon::ActivationReason> reasons;
};

}  // namespace

TEST_F(Tray, TheIconDocksWithItsToolTipAndMenu) {
    EXPECT_TRUE(tray->isVisible());
    EXPECT_EQ(tray->toolTip(), "ZOR");
    EXPECT_EQ(tray->contextMenu(), zor->TrayMenu());
    EXPECT_FALSE(tray->icon().isNull());
    EXPECT_TRUE(zor->isVisible());
}

TEST_F(Tray, ADoubleClickTogglesTheWindowAndASingleClickDoesNot) {
    ASSERT_TRUE(ClickIconUntil(QSystemTrayIcon::Trigger, 1));
    QCoreApplication::processEvents();
    EXPECT_TRUE(zor->isVisible());
    EXPECT_EQ(Count(QSystemTrayIcon::DoubleClick), 0);

    bool visible = true;
    int toggles = 0;
    for (int round = 0; round < 2; ++round) {
        reasons.clear();
        ASSERT_TRUE(ClickIconUntil(QSystemTrayIcon::DoubleClick, 2));
        QCoreApplication::processEvents();
        // Each double click the icon reports toggles the window once.
        if (Count(QSystemTrayIcon::DoubleClick) % 2 == 1) {
            visible = !visible;
            ++toggles;
        }
        EXPECT_EQ(zor->isVisible(), visible) << "round " << round;
        EXPECT_EQ(zor->ShowHideAction()->text(),
                  visible ? "Hide Debug Window" : "Show Debug Window");
    }
    EXPECT_GE(toggles, 1);
}

TEST_F(Tray, MinimisingHidesIntoTheTrayAndTheMenuOffersToShow) {
    // As the title bar's button does it: the window manager iconifies it.
    ASSERT_TRUE(RunTool("xdotool", {"windowminimize", QString::number(zor->winId())}));
    ASSERT_TRUE(WaitFor([&] { return !zor->isVisible(); }));
    EXPECT_EQ(zor->ShowHideAction()->text(), "Show Debug Window");
    zor->ShowHideAction()->trigger();
    ASSERT_TRUE(WaitFor([&] { return zor->windowHandle()->isExposed(); }));
    // And through the program's own call.
    zor->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !zor->isVisible(); }));
    EXPECT_EQ(zor->ShowHideAction()->text(), "Show Debug Window");
    // The menu's own entry brings it back at its normal size.
    zor->ShowHideAction()->trigger();
    EXPECT_TRUE(zor->isVisible());
    EXPECT_FALSE(zor->isMinimized());
    EXPECT_EQ(zor->ShowHideAction()->text(), "Hide Debug Window");
}

TEST_F(Tray, ClosingHidesTheWindowAndTheProcessRunsOn) {
    zor->setAttribute(Qt::WA_DeleteOnClose);  // as the process entry has it
    QPointer<ZOR> alive(zor.get());
    EXPECT_FALSE(zor->close());
    QCoreApplication::processEvents();
    ASSERT_FALSE(alive.isNull());
    EXPECT_FALSE(zor->isVisible());
    EXPECT_TRUE(tray->isVisible());
    EXPECT_EQ(zor->ShowHideAction()->text(), "Show Debug Window");
    // Once quitting, the close goes through.
    zor->terminateZOR();
    EXPECT_FALSE(tray->isVisible());
    zor.release()->close();  // deletes itself
    ASSERT_TRUE(WaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return alive.isNull();
    }));
}

TEST_F(Tray, ScreenshotsOfTheDebugWindowAndOfTheOpenTrayMenu) {
    // A machine of the framework traces into the window, and the menu's Exit
    // posts the termination sentence into its queue.
    CTestFsm machine(zor->Trace(), 31);
    ASSERT_EQ(machine.StartFsm(), 0);
    zor->SetController(&machine);
    machine.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kStart));
    machine.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kSaveA));
    ASSERT_TRUE(machine.WaitForJobs(2));

    // The window shows them; the picture is taken once the lines are painted.
    ASSERT_TRUE(WaitFor([&] { return zor->TextView()->toPlainText().contains("JobFirst"); }));
    WaitFor([] { return false; }, 300);  // let the paint requests run
    EXPECT_TRUE(zor->isVisible());
    EXPECT_TRUE(Shoot("debug-window.png", zor->frameGeometry()));

    // The tray menu, opened by a right click on the icon.
    zor->showHideWindow();  // into the tray: the menu offers to show it
    ASSERT_FALSE(zor->isVisible());
    QMenu* menu = zor->TrayMenu();
    for (int attempt = 0; attempt < 3 && !menu->isVisible(); ++attempt) {
        ASSERT_TRUE(Click(IconCentre(), 3));
        WaitFor([&] { return menu->isVisible(); }, 3000);
    }
    ASSERT_TRUE(menu->isVisible());
    WaitFor([] { return false; }, 300);
    QStringList entries;
    for (QAction* a : menu->actions()) entries << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(entries, QStringList({"Show Debug Window", "&Help", "-", "&Exit"}));
    const QRect around = menu->geometry().united(tray->geometry()).adjusted(-40, -4, 4, 40);
    EXPECT_TRUE(Shoot("tray-menu.png", around));

    // Exit from the open menu: the termination sentence reaches the machine.
    const QRect exitEntry = menu->actionGeometry(zor->ExitAction());
    ASSERT_TRUE(Click(menu->mapToGlobal(exitEntry.center()), 1));
    ASSERT_TRUE(machine.WaitForJobs(3));
    EXPECT_EQ(machine.Numbers().back(), 50024);
    EXPECT_TRUE(WaitFor([&] { return !menu->isVisible(); }));
    zor->SetController(nullptr);
}

TEST(TrayProcess, ClosingTheWindowOfTheRealProcessHidesItAndZorRunsOn) {
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    QProcess zor;
    zor.setWorkingDirectory(qEnvironmentVariable("TMPDIR"));
    zor.start(ZOR_BINARY, {"-debug", "31"});
    ASSERT_TRUE(zor.waitForStarted(10000));
    QString window;
    ASSERT_TRUE(WaitFor([&] { return !(window = VisibleWindowOf(zor.processId())).isEmpty(); }));
    // The title bar's close, through the window manager (openbox: Alt+F4).
    ASSERT_TRUE(RunTool("xdotool",
                        {"windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"}));
    EXPECT_TRUE(WaitFor([&] { return VisibleWindowOf(zor.processId()).isEmpty(); }));
    EXPECT_EQ(zor.state(), QProcess::Running);
    zor.terminate();
    ASSERT_TRUE(WaitFor([&] { return zor.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(zor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(zor.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(zor.readAllStandardError());
    EXPECT_FALSE(err.contains("no system tray")) << err.toStdString();
}
