// Numbered operator messages: the safe formatting of database texts, the
// UTC time stamp, and reporting through a catalogue into a real suite
// database (repeat filter, stamps, text cache, the new-message signal).
// Time comes from a clock the tests set, so nothing here waits.

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <string>
#include <vector>

#include "DBoperations.h"
#include "MessageFsmInterf.h"
#include "Messages.h"
#include "SuiteDb.h"
#include "TestMachine.h"

using zortest::SuiteDb;

namespace {

using Rows = std::vector<std::vector<std::string>>;
using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::system_clock;

// ---- safe formatting ------------------------------------------------------

struct FormatCase {
    const char* text;
    CMessageValues values;
    std::string expected;
};

TEST(MessageFormat, ExpandsOnlyConversionsThatFitTheirValues) {
    const FormatCase cases[] = {
        // Ordinary texts.
        {"Sounder %s_%d not found", {"7", 12}, "Sounder 7_12 not found"},
        {"%5.2f|%-4d|%04x|%c|%+d|%#o", {3.14159, 7, 255, 'A', 3, 8}, " 3.14|7   |00ff|A|+3|010"},
        {"%e %G %a", {1234.5, 0.0001, 1.0}, "1.234500e+03 0.0001 0x1p+0"},
        {"100%% sure, %i%%", {5}, "100% sure, 5%"},
        {"no conversions", {1, "unused"}, "no conversions"},
        {"%*d|%-*d|%.*s", {5, 42, 3, 1, 2, "abcdef"}, "   42|1  |ab"},
        {"%*d", {-4, 1}, "1   "},  // a negative '*' width left-justifies
        {"%.*d", {-1, 7}, "7"},    // a negative '*' precision counts as none
        {"%s", {std::string("std")}, "std"},
        {"%s", {static_cast<const char*>(nullptr)}, "(null)"},
        // Integers take the width their conversion names, as printf does.
        {"%u %x", {-1, -1}, "4294967295 ffffffff"},
        {"%hhd %hd %hhu", {300, 70000, -1}, "44 4464 255"},
        {"%ld %lld %llu",
         {5, LLONG_MIN, ULLONG_MAX},
         "5 -9223372036854775808 18446744073709551615"},
        {"%zu %jd %Lf %lf", {7u, -2, 2.5, 0.5}, "7 -2 2.500000 0.500000"},
        // More conversions than values: the rest stay as they stand.
        {"%s%s%s%n", {"x"}, "x%s%s%n"},
        {"%s%s%s%n", {}, "%s%s%s%n"},
        {"%d %d", {1}, "1 %d"},
        {"%*d", {5}, "%*d"},
        // A value of another kind: that conversion stays, the next ones
        // keep their own values.
        {"%d", {"text"}, "%d"},
        {"%s", {5}, "%s"},
        {"%s %d", {"a", "b"}, "a %d"},
        {"%d %s", {"a", "b"}, "%d b"},
        {"%f", {1}, "%f"},
        {"%d", {1.5}, "%d"},
        {"%*d", {"w", 1}, "%*d"},
        {"%ls %lc", {"wide", 'w'}, "%ls %lc"},
        {"%hf", {1.0}, "%hf"},
        // Never expanded, but they take their position.
        {"%n %d", {1, 2}, "%n 2"},
        {"%p %s", {1, "s"}, "%p s"},
        // Not conversions at all: plain text, and they take no value.
        {"%y %d", {7}, "%y 7"},
        {"%m %d", {7}, "%m 7"},
        {"%1$s %d", {7}, "%1$s 7"},
        {"%5", {1}, "%5"},
        {"100%", {1}, "100%"},
        {"%", {}, "%"},
        {"%-", {}, "%-"},
        {"%ll", {1}, "%ll"},
        // Results are cut at an embedded zero and after 399 characters.
        {"a%cb", {0}, "a"},
        {"%s", {std::string("x\0y", 3)}, "x"},
        {"%s", {std::string(1000, 's')}, std::string(399, 's')},
        {"%999999999d", {1}, std::string(399, ' ')},
        {"%-2147483647d|", {1}, "1" + std::string(398, ' ')},
        {"%.999999999d", {1}, std::string(399, '0')},
        {"%*d", {INT_MIN, 1}, "1" + std::string(398, ' ')},
        {"%.500f", {1.0}, "1." + std::string(397, '0')},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatMessageText(c.text, c.values, CMessages::kMaxTextChars), c.expected)
            << "text: " << c.text;
    }
}

TEST(MessageFormat, EveryPrefixOfAHostileTextIsSafe) {
    // Texts cut at any point, with values of every kind in every place: the
    // formatter must neither read past the values nor produce more than asked.
    const std::string texts[] = {"%s%s%s%n%d%*.*f%-+ #0'12.7lld%hhx%c%%%Lg%zu%p%1$s",
                                 "%%%%%*%.%l%h%"};
    const CMessageValues values[] = {{}, {1}, {"a", 2.0}, {3, "b", 4.5, 'c', -1, "d"}};
    for (const std::string& text : texts) {
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            for (const CMessageValues& v : values) {
                const std::string out = FormatMessageText(text.substr(0, cut), v, 50);
                EXPECT_LE(out.size(), 50u);
                EXPECT_EQ(out.find('\0'), std::string::npos);
            }
        }
    }
}

// ---- time stamp -----------------------------------------------------------

system_clock::time_point AtEpoch(long long secondsSinceEpoch, int millis) {
    return system_clock::time_point(seconds(secondsSinceEpoch) + milliseconds(millis));
}

TEST(MessageTime, IsTheUtcDateAndTimeOfOneReading) {
    struct Case {
        long long epochSeconds;
        int millis;
        MessageTime expected;
    } cases[] = {
        {0, 0, {19700101, 0, 0}},
        {1709251199, 999, {20240229, 235959, 999}},  // leap day, last millisecond
        {951782400, 1, {20000229, 0, 1}},
        {4107542400, 500, {21000301, 0, 500}},  // 2100 is no leap year
        {1704067199, 999, {20231231, 235959, 999}},
        {1704067200, 0, {20240101, 0, 0}},
        {-1, 999, {19691231, 235959, 999}},
        {1718100000 + 3723, 45, {20240611, 110203, 45}},
    };
    for (const Case& c : cases) {
        const MessageTime t = MessageTime::FromUtc(AtEpoch(c.epochSeconds, c.millis));
        EXPECT_EQ(t.dateYYYYMMDD, c.expected.dateYYYYMMDD) << c.epochSeconds;
        EXPECT_EQ(t.timeHHMMSS, c.expected.timeHHMMSS) << c.epochSeconds;
        EXPECT_EQ(t.millis, c.expected.millis) << c.epochSeconds;
    }
    // Sub-millisecond parts are dropped, never rounded up into the next second.
    const MessageTime t =
        MessageTime::FromUtc(AtEpoch(1704067199, 999) + std::chrono::microseconds(999));
    EXPECT_EQ(t.timeHHMMSS, 235959);
    EXPECT_EQ(t.millis, 999);
}

// ---- reporting ------------------------------------------------------------

class ManualClock : public CMessageClock {
  public:
    system_clock::time_point now() const override { return m_now; }
    // A UTC date and time.
    void Set(int year, int month, int day, int hour, int minute, int second, int millis) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        m_now = AtEpoch(static_cast<long long>(timegm(&tm)), millis);
    }
    void Advance(int millis) { m_now += milliseconds(millis); }

  private:
    system_clock::time_point m_now;
};

// A target that keeps what is put to it.
class RecordingTarget : public CFsmBase {
  public:
    struct Posted {
        int32_t number;
        CFsmBase* sender;
        std::string payload;
        bool atBack;
    };
    void PutSignal(CPELSignalPtr signal, bool atBack) override {
        posted.push_back(
            {signal->number, signal->sender, std::string(signal->payload.view()), atBack});
    }
    std::vector<Posted> posted;
};

class Reporting : public testing::Test {
  protected:
    void SetUp() override {
        suite.Exec(
            "INSERT INTO messages VALUES (431, 3, 'No handler for sounder %s_%d'),"
            " (433, 3, 'Garbled command: %s'), (581, 3, 'Port closed: %s'),"
            " (582, 3, 'Port closed: %s, %s'), (600, 3, '%s%s%s%n'), (601, 3, 'Count %d'),"
            " (447, 3, 'Bridge not created');");
        clock.Set(2024, 6, 11, 10, 0, 0, 123);
        Bind(messages);
        messages.attachTarget(&target);
    }

    void Bind(CMessages& catalogue) {
        catalogue.setDbOperations(&db);
        if (!db.LoggedIn()) {
            testing::internal::CaptureStderr();
            const int result =
                db.connectDatabase(SuiteDb::kDsn, SuiteDb::kUser, SuiteDb::kPassword, "ZORhandl");
            const std::string err = testing::internal::GetCapturedStderr();
            ASSERT_EQ(result, 0) << err;
        }
        catalogue.initCatalogue();
    }

    Rows Numbers() const {
        return suite.Query(
            "SELECT dateYYYYMMDD, millisecSinceMidnight, number FROM arrivedMessages ORDER BY id");
    }
    Rows Texts() const {
        return suite.Query(
            "SELECT dateYYYYMMDD, millisecSinceMidnight, lang, mess FROM arrivedMessagesString "
            "ORDER BY id");
    }

    SuiteDb suite;
    CDBoperations db{"Unknown"};
    ManualClock clock;
    CMessageFsmInterf messages{clock};
    RecordingTarget target;
};

TEST_F(Reporting, LogsNumberAndTextAndTellsTheTarget) {
    messages.reportMessage(431, "7", 12);
    EXPECT_EQ(Numbers(), (Rows{{"20240611", "36000123", "431"}}));
    EXPECT_EQ(Texts(), (Rows{{"20240611", "36000123", "3", "No handler for sounder 7_12"}}));
    ASSERT_EQ(target.posted.size(), 1u);
    const RecordingTarget::Posted& p = target.posted[0];
    EXPECT_EQ(p.number, 50032);
    EXPECT_EQ(p.sender, static_cast<CFsmBase*>(&messages));
    EXPECT_EQ(p.payload, std::string("$ZQPEL,32\n\r"));
    EXPECT_EQ(p.payload.size(), 11u);
    EXPECT_TRUE(p.atBack);
    EXPECT_EQ(messages.language(), 3);
}

TEST_F(Reporting, RepeatsWithinTenSecondsAreLoggedOnce) {
    struct Case {
        const char* name;
        const char* first;
        const char* second;
        int gapMs;
        std::size_t rows;  // in each table
    } cases[] = {
        {"same text at once", "x", "x", 0, 1},
        {"same text 9.999 s later", "x", "x", 9999, 1},
        {"same text 10 s later", "x", "x", 10000, 2},
        {"another text at once", "x", "y", 0, 2},
        {"another text 1 ms later", "x", "y", 1, 2},
    };
    // Each case has its own number and starts a minute after the last one,
    // so the cases do not see each other's filter state.
    int number = 700;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++number;
        suite.Exec("INSERT INTO messages VALUES (" + std::to_string(number) + ", 3, 'Text %s');");
        const std::size_t signalsBefore = target.posted.size();
        clock.Advance(60000);
        messages.reportMessage(number, c.first);
        clock.Advance(c.gapMs);
        messages.reportMessage(number, c.second);
        const std::string where = " WHERE number = " + std::to_string(number);
        EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM arrivedMessages" + where),
                  static_cast<long long>(c.rows));
        EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM arrivedMessagesString s JOIN "
                                 "arrivedMessages a USING (millisecSinceMidnight)" +
                                 where),
                  static_cast<long long>(c.rows));
        EXPECT_EQ(target.posted.size() - signalsBefore, c.rows);
    }
}

TEST_F(Reporting, NumberOnlyReportsAreFilteredByTimeAlone) {
    messages.reportNumber(447);
    clock.Advance(9999);
    messages.reportNumber(447);  // suppressed
    clock.Advance(1);
    messages.reportNumber(447);  // 10 s after the first
    EXPECT_EQ(Numbers(), (Rows{{"20240611", "36000123", "447"}, {"20240611", "36010123", "447"}}));
    EXPECT_EQ(Texts(), Rows{});  // no text rows for number-only reports
    EXPECT_EQ(target.posted.size(), 2u);
    // The number's text is never looked up.
    EXPECT_EQ(messages.cachedTexts().count(447), 0u);
}

TEST_F(Reporting, StampsOfOneMillisecondAreMadeUnique) {
    messages.reportMessage(581, "a");
    messages.reportMessage(582, "a", "b");
    EXPECT_EQ(Numbers(), (Rows{{"20240611", "36000123", "581"}, {"20240611", "36000124", "582"}}));
    // A number-only report in the next millisecond is moved on as well.
    clock.Advance(1);
    messages.reportNumber(428);
    EXPECT_EQ(Numbers().back(), (std::vector<std::string>{"20240611", "36000125", "428"}));
    // Each text row carries the stamp its number row got.
    EXPECT_EQ(Texts(), (Rows{{"20240611", "36000123", "3", "Port closed: a"},
                             {"20240611", "36000124", "3", "Port closed: a, b"}}));
}

TEST_F(Reporting, TheLastMillisecondOfTheDayIsNeverPassed) {
    clock.Set(2024, 12, 31, 23, 59, 59, 999);
    messages.reportMessage(581, "a");
    messages.reportMessage(582, "a", "b");
    EXPECT_EQ(Numbers(), (Rows{{"20241231", "86399999", "581"}, {"20241231", "86399999", "582"}}));
    EXPECT_EQ(target.posted.size(), 2u);

    // A repeat across midnight counts as far apart, and the date moves on.
    clock.Advance(1500);
    messages.reportMessage(581, "a");
    EXPECT_EQ(Numbers().back(), (std::vector<std::string>{"20250101", "1499", "581"}));
    EXPECT_EQ(target.posted.size(), 3u);
}

TEST_F(Reporting, AMissingTextIsLoggedAsTheErrorTextAndKept) {
    const std::string placeholder = "**** Error retrieving message no: 999 from database ****\r\n";
    messages.reportMessage(999, "ignored");
    // The text exists from now on, but the catalogue keeps what it looked up.
    suite.Exec("INSERT INTO messages VALUES (999, 3, 'now there is a text');");
    clock.Advance(10000);
    messages.reportMessage(999, "ignored");
    EXPECT_EQ(Texts(), (Rows{{"20240611", "36000123", "3", placeholder},
                             {"20240611", "36010123", "3", placeholder}}));
    EXPECT_EQ(messages.cachedTexts().at(999), placeholder);
}

TEST_F(Reporting, TextsAreReadOnceThenComeFromTheCache) {
    messages.reportMessage(601, 1);
    suite.Exec("UPDATE messages SET mess = 'changed %d' WHERE number = 601;");
    clock.Advance(1);
    messages.reportMessage(601, 2);
    EXPECT_EQ(Texts().back()[3], "Count 2");
}

TEST_F(Reporting, AFailedTextLookupLogsAnEmptyTextAndIsNotKept) {
    suite.Exec("ALTER TABLE messages RENAME TO messages_away;");
    messages.reportMessage(601, 1);
    EXPECT_EQ(Texts(), (Rows{{"20240611", "36000123", "3", ""}}));
    EXPECT_EQ(messages.cachedTexts().count(601), 0u);

    suite.Exec("ALTER TABLE messages_away RENAME TO messages;");
    clock.Advance(1);
    messages.reportMessage(601, 2);
    EXPECT_EQ(Texts().back()[3], "Count 2");
}

TEST_F(Reporting, HostileTextsAreFormattedSafely) {
    messages.reportMessage(600, "x");      // '%s%s%s%n'
    messages.reportMessage(601, "text");   // 'Count %d' given a text
    messages.reportMessage(433);           // 'Garbled command: %s' given nothing
    messages.reportMessage(431, 7, "12");  // both of the wrong kind
    const Rows texts = Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0][3], "x%s%s%n");
    EXPECT_EQ(texts[1][3], "Count %d");
    EXPECT_EQ(texts[2][3], "Garbled command: %s");
    EXPECT_EQ(texts[3][3], "No handler for sounder %s_%d");
}

TEST_F(Reporting, LongResultsAreCutTo399Characters) {
    messages.reportMessage(433, std::string(1000, 'g'));
    const std::string expected = "Garbled command: " + std::string(399 - 17, 'g');
    EXPECT_EQ(Texts()[0][3], expected);
}

TEST_F(Reporting, AFailedNumberInsertStillLogsTheTextAndSignals) {
    suite.Exec("DROP TABLE arrivedMessages;");
    messages.reportMessage(581, "a");
    EXPECT_EQ(Texts(), (Rows{{"20240611", "-1", "3", "Port closed: a"}}));
    EXPECT_EQ(target.posted.size(), 1u);
    messages.reportNumber(428);
    EXPECT_EQ(target.posted.size(), 2u);
}

TEST_F(Reporting, NothingIsSignalledBeforeATargetIsAttached) {
    CMessageFsmInterf handlerCatalogue{clock};
    Bind(handlerCatalogue);
    handlerCatalogue.reportMessage(581, "a");
    handlerCatalogue.reportNumber(428);
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM arrivedMessages"), 2);
    EXPECT_EQ(target.posted.size(), 0u);

    handlerCatalogue.attachTarget(&target);
    clock.Advance(1);
    handlerCatalogue.reportMessage(582, "a", "b");
    ASSERT_EQ(target.posted.size(), 1u);
    EXPECT_EQ(target.posted[0].sender, static_cast<CFsmBase*>(&handlerCatalogue));

    handlerCatalogue.attachTarget(nullptr);  // detached again
    clock.Advance(1);
    handlerCatalogue.reportNumber(429);
    EXPECT_EQ(target.posted.size(), 1u);
}

TEST_F(Reporting, TheControllerCatalogueLogsButNeverSignals) {
    CMessages controllerCatalogue{clock};
    Bind(controllerCatalogue);
    controllerCatalogue.attachTarget(&target);  // no effect
    controllerCatalogue.reportMessage(581, "a");
    controllerCatalogue.reportNumber(428);
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM arrivedMessages"), 2);
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM arrivedMessagesString"), 1);
    EXPECT_EQ(target.posted.size(), 0u);
}

TEST_F(Reporting, AnUnboundCatalogueDoesNothing) {
    CMessageFsmInterf unbound{clock};
    unbound.attachTarget(&target);
    unbound.reportMessage(581, "a");
    unbound.reportNumber(428);
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM arrivedMessages"), 0);
    EXPECT_EQ(target.posted.size(), 0u);
}

TEST_F(Reporting, SignalsPutToTheInterfaceAreDropped) {
    CFsmBase& asMachine = messages;
    asMachine.PutSignal(std::make_unique<CPELSignal>(50032), true);
    asMachine.PutSignal(std::make_unique<CPELSignal>(50032), false);
    EXPECT_EQ(target.posted.size(), 0u);
}

TEST_F(Reporting, TheSignalReachesARunningMachine) {
    CTestFsm machine;
    ASSERT_EQ(machine.StartFsm(0), 0);
    messages.attachTarget(&machine);
    messages.reportMessage(581, "a");
    ASSERT_TRUE(machine.WaitForJobs(1));
    EXPECT_EQ(machine.Numbers(), std::vector<int32_t>{50032});
    machine.StopFsm();
}

}  // namespace
