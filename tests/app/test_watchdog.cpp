// The watchdog heartbeat: datagram texts byte for byte, the program path,
// the instance id, and the joins and the leave as they go out on the wire.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <memory>
#include <set>

#include "UdpListener.h"
#include "WatchDogInterface.h"

namespace {

constexpr quint16 kPort = 33455;

class WatchdogWire : public testing::Test {
  protected:
    std::unique_ptr<CWatchDogInterface> Started(int intervalMs) {
        auto wd = std::make_unique<CWatchDogInterface>();
        wd->Start(QStringLiteral("ZOR"), intervalMs);
        wd->setPort(kPort);
        wd->setProgramPath(QStringLiteral("C:\\z\\zor.exe~-debug~31"));
        wd->setFlag(1);
        return wd;
    }
    static std::string Join(const CWatchDogInterface& wd) {
        return CWatchDogInterface::JoinDatagram(wd.instanceId(), wd.name(), wd.programPath(),
                                                wd.flag())
            .toStdString();
    }
    static std::string Leave(const CWatchDogInterface& wd) {
        return "$VMWDG,2," + std::to_string(wd.instanceId()) + "\n";
    }
};

}  // namespace

TEST(WatchdogText, JoinDatagramOfTheExampleRun) {
    const QString path = CWatchDogInterface::ProgramPath(
        {QStringLiteral("C:\\z\\zor.exe"), QStringLiteral("-debug"), QStringLiteral("31")},
        QStringLiteral("/opt/ignored"));
    EXPECT_EQ(path.toStdString(), "C:\\z\\zor.exe~-debug~31");
    EXPECT_EQ(CWatchDogInterface::JoinDatagram(12345, QStringLiteral("ZOR"), path, 1).toStdString(),
              "$VMWDG,1,12345,20,ZOR,C:\\z\\zor.exe~-debug~31,1,Running*aa\n");
}

TEST(WatchdogText, OtherDatagramTypes) {
    EXPECT_EQ(CWatchDogInterface::LeaveDatagram(12345).toStdString(), "$VMWDG,2,12345\n");
    EXPECT_EQ(CWatchDogInterface::TextDatagram(3, 7, QStringLiteral("hello")).toStdString(),
              "$VMWDG,3,7,hello");
    // Placeholders inside inserted texts are not expanded a second time, and
    // commas go through as they are.
    EXPECT_EQ(CWatchDogInterface::JoinDatagram(1, QStringLiteral("A%2,B"), QStringLiteral("%1"), 0)
                  .toStdString(),
              "$VMWDG,1,1,20,A%2,B,%1,0,Running*aa\n");
}

TEST(WatchdogText, RelativeProgramPathGetsTheApplicationDirectory) {
    struct Case {
        QStringList args;
        const char* expected;
    };
    const Case cases[] = {
        {{"zor", "-debug", "31"}, "/app/bin/zor~-debug~31"},
        {{"/usr/bin/zor", "-debug", "31"}, "/usr/bin/zor~-debug~31"},  // rooted: as it is
        {{"  zor", "x  "}, "/app/bin/zor~x"},                          // trimmed before the test
        {{"D:/pel/zor.exe"}, "D:/pel/zor.exe"},
        {{"zor", "-name", "a:b"}, "zor~-name~a:b"},  // any ':' counts
        {{}, "/app/bin/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CWatchDogInterface::ProgramPath(c.args, QStringLiteral("/app/bin")).toStdString(),
                  c.expected);
}

TEST(WatchdogText, InstanceIdsStayInRangeAndVary) {
    std::set<qint32> seen;
    for (int i = 0; i < 200; ++i) {
        const qint32 id = CWatchDogInterface::DrawInstanceId();
        EXPECT_GE(id, 0);
        EXPECT_LE(id, 2147483646);
        seen.insert(id);
    }
    EXPECT_GT(seen.size(), 190u);
}

TEST_F(WatchdogWire, JoinIsSentByteExactToTheLoopbackPort) {
    UdpListener listener(kPort);
    ASSERT_TRUE(listener.Bound());
    auto wd = Started(CWatchDogInterface::kJoinIntervalMs);
    wd->wd_join();
    Datagram got;
    ASSERT_TRUE(listener.Next(got, 2000));
    EXPECT_EQ(got.text, "$VMWDG,1," + std::to_string(wd->instanceId()) +
                            ",20,ZOR,C:\\z\\zor.exe~-debug~31,1,Running*aa\n");
    wd->wd_info(QStringLiteral("i"));
    wd->wd_warning(QStringLiteral("w"));
    wd->wd_error(QStringLiteral("e"));
    wd->wd_allSensors(QStringLiteral("s"));
    const std::string id = std::to_string(wd->instanceId());
    for (const char* expected : {"3,", "4,", "5,", "6,"}) {
        ASSERT_TRUE(listener.Next(got, 2000));
        EXPECT_EQ(got.text, std::string("$VMWDG,") + expected + id + "," +
                                std::string(1, "iwes"[expected[0] - '3']));
    }
}

TEST_F(WatchdogWire, JoinsRepeatUntilLeaveAndNotAfter) {
    UdpListener listener(kPort);
    ASSERT_TRUE(listener.Bound());
    auto wd = Started(150);
    auto before = listener.Collect(1000);
    // A loaded machine may run the timer late, never more often.
    ASSERT_GE(before.size(), 2u);
    ASSERT_LE(before.size(), 8u);
    for (const auto& d : before) EXPECT_EQ(d.text, Join(*wd));

    wd->wd_leave();
    auto after = listener.Collect(700);
    // Joins sent before the leave may still be read now; after the leave
    // there is nothing.
    while (!after.empty() && after.front().text == Join(*wd)) after.erase(after.begin());
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].text, Leave(*wd));

    // A join still queued from before the leave (the first heartbeat's
    // single shot) does not bring the run back.
    wd->wd_join();
    wd->timerTimeout();
    EXPECT_TRUE(listener.Collect(200).empty());
}

TEST_F(WatchdogWire, DestructionSendsTheLeave) {
    UdpListener listener(kPort);
    auto wd = Started(CWatchDogInterface::kJoinIntervalMs);
    const std::string leave = Leave(*wd);
    wd.reset();
    auto got = listener.Collect(300);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, leave);

    // A leave already sent is sent again on destruction, without joins.
    wd = Started(100);
    wd->wd_leave();
    wd.reset();
    got = listener.Collect(400);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].text, got[1].text);

    // Never started: no socket, nothing sent.
    auto idle = std::make_unique<CWatchDogInterface>();
    idle->wd_join();
    idle.reset();
    EXPECT_TRUE(listener.Collect(200).empty());
}

TEST_F(WatchdogWire, RestartDrawsANewIdAndKeepsOneTimer) {
    UdpListener listener(kPort);
    auto wd = Started(200);
    const qint32 first = wd->instanceId();
    wd->Start(QStringLiteral("ZOR"), 200);
    EXPECT_NE(wd->instanceId(), first);
    auto got = listener.Collect(1100);
    // One timer: about five joins in 1.1 s (fewer on a loaded machine, never
    // the ten of two timers), all with the new id.
    EXPECT_GE(got.size(), 2u);
    EXPECT_LE(got.size(), 6u);
    for (const auto& d : got) EXPECT_EQ(d.text, Join(*wd));
}

TEST_F(WatchdogWire, DefaultIntervalIsTenSeconds) {
    CWatchDogInterface wd;
    wd.Start(QStringLiteral("ZOR"));
    auto* timer = wd.findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 10000);
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(timer->isSingleShot());
}
