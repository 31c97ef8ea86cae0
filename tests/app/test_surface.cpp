// The operator surface as the start-up builds it, on Qt's offscreen platform
// (no system tray there): the actions and their texts, the show/hide toggle,
// the help box, Exit posting the termination sentence, the window events
// without a tray, and the debug window showing what every thread writes.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <iostream>
#include <thread>
#include <vector>

#include "FsmBase.h"
#include "LogTrace.h"
#include "SurfaceSupport.h"

namespace {

// Stands in for the controller's external queue: keeps what is posted.
// Exit posts on the GUI thread, as does the test.
class PostedSignals : public CFsmBase {
  public:
    void PutSignal(CPELSignalPtr signal, bool back) override {
        received.push_back(std::move(signal));
        atBack.push_back(back);
    }
    std::vector<CPELSignalPtr> received;
    std::vector<bool> atBack;
};

const char* const kStartUpLine =
    "ZOR running, Connecting to Database and Starting FSM Framework...";
const char* const kNoTray = "ZOR: no system tray available; running without the tray icon";

class Surface : public testing::Test {
  protected:
    void SetUp() override {
        zor = StartZor({"-debug", "31"});
        ASSERT_NE(zor->TextView(), nullptr);
        view = zor->TextView();
        // Start-up output has reached the view.
        ASSERT_TRUE(WaitFor([&] { return ViewHas(*view, kStartUpLine); }));
    }

    std::unique_ptr<ZOR> zor;
    QPlainTextEdit* view = nullptr;
};

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(SurfaceMaskZero, NoWindowNoTrayNoFeed) {
    std::streambuf* const before = std::cerr.rdbuf();
    auto zor = StartZor({});
    EXPECT_EQ(zor->TrayIcon(), nullptr);
    EXPECT_EQ(zor->TrayMenu(), nullptr);
    EXPECT_EQ(zor->TextView(), nullptr);
    EXPECT_EQ(zor->Trace(), nullptr);
    EXPECT_FALSE(zor->isVisible());
    EXPECT_EQ(std::cerr.rdbuf(), before);
}

TEST(SurfaceWithoutTray, RunsWithoutTheIconAndSaysSoOnceOnStandardError) {
    testing::internal::CaptureStderr();
    {
        auto zor = StartZor({"-debug", "31"});
        EXPECT_EQ(zor->TrayIcon(), nullptr);
        EXPECT_TRUE(zor->isVisible());
        for (int i = 0; i < 3; ++i) zor->showHideWindow();
        zor->setWindowState(Qt::WindowMinimized);
        zor->close();
        WaitFor([] { return false; }, 100);  // let queued work run
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(err, std::string(kNoTray) + "\n"), 1u) << err;
}

TEST_F(Surface, StartUpShowsTheWindowWithTheMenuOfFourEntries) {
    EXPECT_TRUE(zor->isVisible());
    // Offscreen there is no tray: no icon, the menu is built all the same.
    EXPECT_EQ(zor->TrayIcon(), nullptr);
    ASSERT_NE(zor->TrayMenu(), nullptr);
    const auto entries = zor->TrayMenu()->actions();
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0], zor->ShowHideAction());
    EXPECT_EQ(entries[1], zor->HelpAction());
    EXPECT_TRUE(entries[2]->isSeparator());
    EXPECT_EQ(entries[3], zor->ExitAction());
    // Shown at start-up while the action still offers to show it.
    EXPECT_EQ(zor->ShowHideAction()->text(), "Show Debug Window");
    EXPECT_EQ(zor->HelpAction()->text(), "&Help");
    EXPECT_EQ(zor->ExitAction()->text(), "&Exit");
    for (const char* image :
         {":/images/arrow-up-3.png", ":/images/arrow-down-3.png", ":/images/help-3.png",
          ":/images/dialog-cancel-7.png", ":/images/control_panel.png"}) {
        EXPECT_FALSE(QPixmap(image).isNull()) << image;
    }
    for (QAction* a : {zor->ShowHideAction(), zor->HelpAction(), zor->ExitAction()}) {
        EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
    }
    const QSize screen = QGuiApplication::primaryScreen()->size();
    EXPECT_EQ(zor->size(), QSize(int(screen.width() * 0.4), int(screen.height() * 0.4)));
    // The start-up's own lines are in the view; the missing tray is said once.
    EXPECT_TRUE(ViewHas(*view, "argv = [zor -debug 31 ]"));
    EXPECT_EQ(ViewLines(*view).count(kNoTray), 1);
}

TEST_F(Surface, SlotsInTheirOrder) {
    const QMetaObject& meta = ZOR::staticMetaObject;
    std::vector<std::string> names;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Slot)
            names.push_back(meta.method(i).name().toStdString());
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"trayIconActivated", "trayIconMessageclicked",
                                        "showHideWindow", "showHelp", "doQuit", "terminateZOR"}));
}

TEST_F(Surface, OnlyADoubleClickOnTheTrayIconTogglesTheWindow) {
    struct Step {
        QSystemTrayIcon::ActivationReason reason;
        bool visibleAfter;
        const char* actionAfter;
    };
    const Step steps[] = {
        {QSystemTrayIcon::Trigger, true, "Show Debug Window"},
        {QSystemTrayIcon::DoubleClick, false, "Show Debug Window"},
        {QSystemTrayIcon::Context, false, "Show Debug Window"},
        {QSystemTrayIcon::MiddleClick, false, "Show Debug Window"},
        {QSystemTrayIcon::DoubleClick, true, "Hide Debug Window"},
        {QSystemTrayIcon::Trigger, true, "Hide Debug Window"},
        {QSystemTrayIcon::DoubleClick, false, "Show Debug Window"},
    };
    int n = 0;
    for (const auto& step : steps) {
        zor->trayIconActivated(step.reason);
        EXPECT_EQ(zor->isVisible(), step.visibleAfter) << "step " << n;
        EXPECT_EQ(zor->ShowHideAction()->text().toStdString(), step.actionAfter) << "step " << n;
        ++n;
    }
    // The balloon message brings the window back.
    zor->trayIconMessageclicked();
    EXPECT_TRUE(zor->isVisible());
}

TEST_F(Surface, HelpShowsTheVersionInABoxOfItsOwn) {
    QString title, text;
    QWidget* parent = zor.get();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            parent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(20);
    zor->HelpAction()->trigger();  // returns when the box is closed
    poll.stop();
    EXPECT_EQ(title, "Help");
    EXPECT_EQ(text,
              "Velmor Dezidizu ZOR ver. 5.3.1.447\n"
              "Start program to enable communication with the Echosounder(s)");
    EXPECT_EQ(parent, nullptr);
}

TEST_F(Surface, ExitRunsTheControllersShutdownAndTheWindowQuits) {
    // Start-up's own controller: Exit posts the termination sentence, the
    // controller's shutdown runs (nothing registered, nothing started) and
    // asks the window to quit.
    EXPECT_FALSE(zor->Quitting());
    zor->ExitAction()->trigger();
    EXPECT_TRUE(WaitFor([&] { return zor->Quitting(); }, 15000));
}

TEST_F(Surface, ExitPostsTheTerminationSentenceToTheControllersQueue) {
    PostedSignals controller;
    zor->SetController(&controller);
    zor->ExitAction()->trigger();
    ASSERT_EQ(controller.received.size(), 1u);
    const CPELSignal& posted = *controller.received[0];
    EXPECT_EQ(posted.GetSignalNo(), 50024);
    EXPECT_EQ(posted.sender, nullptr);
    EXPECT_EQ(posted.payload.view(), std::string_view("$ZQPEL,24,\n\r"));
    EXPECT_EQ(posted.payload.length(), 12);
    EXPECT_TRUE(controller.atBack[0]);
    // The window itself stays until the controller asks it to quit.
    EXPECT_FALSE(zor->Quitting());
    EXPECT_TRUE(zor->isVisible());
}

TEST_F(Surface, WithoutATrayCloseClosesAndMinimiseStaysMinimised) {
    zor->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(zor->isVisible());
    EXPECT_TRUE(zor->isMinimized());
    EXPECT_EQ(zor->ShowHideAction()->text(), "Show Debug Window");
    // Showing it from the menu brings it back to its normal size.
    zor->ShowHideAction()->trigger();
    zor->ShowHideAction()->trigger();
    EXPECT_TRUE(zor->isVisible());
    EXPECT_FALSE(zor->isMinimized());
    EXPECT_TRUE(zor->close());
    EXPECT_FALSE(zor->isVisible());
}

TEST_F(Surface, QuittingLetsTheWindowClose) {
    zor->terminateZOR();
    EXPECT_TRUE(zor->Quitting());
    EXPECT_TRUE(zor->close());
    EXPECT_FALSE(zor->isVisible());
}

TEST_F(Surface, AWarningIssuedOnAWorkerThreadAppearsInTheView) {
    std::thread worker([] { qWarning("warning from a worker: %d", 7); });
    worker.join();
    EXPECT_TRUE(WaitFor([&] { return ViewHas(*view, "warning from a worker: 7"); }));
}

TEST_F(Surface, TraceOfManyThreadsArrivesWholeAndInEachThreadsOrder) {
    view->clear();
    constexpr int kThreads = 8, kLines = 25;  // 4 lines each: within the view's limit
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) zor->Trace()->Append("\n\nT%d line %02d", t, i);
        });
    }
    for (auto& w : writers) w.join();
    const QString last = "T%1 line 24";
    ASSERT_TRUE(WaitFor([&] {
        for (int t = 0; t < kThreads; ++t)
            if (!ViewHas(*view, last.arg(t))) return false;
        return true;
    }));
    const QStringList lines = ViewLines(*view);
    const QRegularExpression traced(R"(^T(\d) line (\d\d)$)");
    std::vector<int> next(kThreads, 0);
    int seen = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = traced.match(lines[i]);
        if (!m.hasMatch()) continue;
        const std::string line = lines[i].toStdString();
        ++seen;
        // Each echo whole: two empty lines before, the echo's line end after.
        ASSERT_GE(i, 2);
        ASSERT_LT(i + 1, lines.size());
        EXPECT_EQ(lines[i - 2], "");
        EXPECT_EQ(lines[i - 1], "");
        EXPECT_EQ(lines[i + 1], "") << line;
        const int t = m.captured(1).toInt();
        EXPECT_EQ(m.captured(2).toInt(), next[t]) << line;
        next[t] = m.captured(2).toInt() + 1;
    }
    EXPECT_EQ(seen, kThreads * kLines);
}

TEST_F(Surface, MoreThanAThousandLinesDropTheOldest) {
    for (int i = 0; i < 1500; ++i) std::cerr << "overflow " + std::to_string(10000 + i);
    std::cerr.flush();
    ASSERT_TRUE(WaitFor([&] { return ViewHas(*view, "overflow 11499"); }));
    const QStringList lines = ViewLines(*view);
    ASSERT_EQ(lines.size(), ZOR::kDebugWindowLines);
    // The controller's threads may add a line of their own at any time; the
    // flood's lines that are left must be its newest ones, in order.
    QStringList flood;
    for (const QString& line : lines)
        if (line.startsWith("overflow ")) flood << line;
    ASSERT_FALSE(flood.isEmpty());
    EXPECT_GE(flood.size(), ZOR::kDebugWindowLines - 10);
    for (int i = 0; i < flood.size(); ++i)
        EXPECT_EQ(flood[i], QString("overflow %1").arg(11500 - flood.size() + i)) << i;
}
