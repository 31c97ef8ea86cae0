// Message texts and message logging: getMessageText, the repeat filter of
// insertArrivedMessage and the text rows of insertArrivedMessageString.

#include <gtest/gtest.h>

#include "DbTestHelpers.h"

using zortest::LoginOrFail;
using zortest::SuiteDb;

namespace {

std::string Placeholder(int number) {
    return "**** Error retrieving message no: " + std::to_string(number) +
           " from database ****\r\n";
}

TEST(MessageText, WholeTextsOnlyAndNeverAReport) {
    SuiteDb suite;
    const std::string t399(399, 'a'), t400(400, 'b');
    suite.Exec("INSERT INTO messages VALUES (1, 3, '" + t399 + "'), (2, 3, '" + t400 +
               "'), (3, 3, 'Port closed by %s: %s.'), (4, 3, ''), (5, 1, 'other language');");
    CDBoperations db("ZOR");
    LoginOrFail(db);
    struct Case {
        int number;
        int language;
        std::string text;
    } cases[] = {
        {1, 3, t399},
        {2, 3, Placeholder(2)},  // cut by the driver: not whole
        {3, 3, "Port closed by %s: %s."},
        {4, 3, ""},
        {6, 3, Placeholder(6)},  // no row
        {5, 3, Placeholder(5)},  // another language only
        {5, 1, "other language"},
    };
    for (const Case& c : cases) {
        const auto text = db.getMessageText(c.number, c.language);
        ASSERT_TRUE(text.has_value()) << c.number;
        EXPECT_EQ(*text, c.text) << c.number;
    }
    EXPECT_EQ(suite.DebugText("ZOR"), "");
}

TEST(MessageText, Language3TextsAreTranslated) {
    SuiteDb suite;
    suite.WriteTranslationTable(std::string("\xC6\xE6\xD8\xF8") + std::string(96, '?'));
    suite.Exec(
        "INSERT INTO messages VALUES (1, 3, 'Tr!!oendelag !!AE'), (1, 1, 'Tr!!oendelag !!AE');");
    CDBoperations db("ZOR");  // reads translate.bin from the current directory
    LoginOrFail(db);
    EXPECT_EQ(db.getMessageText(1, 3).value_or("none"), "Tr\xF8ndelag \xC6");
    EXPECT_EQ(db.getMessageText(1, 1).value_or("none"), "Tr!!oendelag !!AE");
}

TEST(MessageText, DatabaseFailureGivesNoText) {
    SuiteDb suite;
    CDBoperations db("ZOR");  // never logged in
    EXPECT_FALSE(db.getMessageText(428, 3).has_value());
    EXPECT_EQ(suite.DebugText("ZOR"),
              "506 (-2): select mess from messages where lang = 3 and number = 428\n");
}

class MessageLog : public testing::Test {
  protected:
    void SetUp() override {
        suite.Exec("INSERT INTO messages VALUES (433, 3, 'Garbled: %s'), (447, 3, 'x');");
        LoginOrFail(db);
    }
    std::vector<std::vector<std::string>> Rows() const {
        return suite.Query(
            "SELECT dateYYYYMMDD, millisecSinceMidnight, number FROM arrivedMessages ORDER BY id");
    }

    SuiteDb suite;
    CDBoperations db{"ZOR"};
};

TEST_F(MessageLog, RepeatsWithinTenSecondsAreSuppressed) {
    const int date = 20240611;
    // 10:00:00.000 and onwards.
    EXPECT_EQ(db.insertArrivedMessage(date, 100000, 0, 433, "Garbled: a", false), 36000000);
    EXPECT_EQ(db.insertArrivedMessage(date, 100005, 0, 433, "Garbled: a", false), 0);
    EXPECT_EQ(db.insertArrivedMessage(date, 100005, 1, 433, "Garbled: b", false), 36005001);
    EXPECT_EQ(db.insertArrivedMessage(date, 100006, 0, 433, "Garbled: b", false), 0);
    // Ten seconds after the last logging the same text is logged again.
    EXPECT_EQ(db.insertArrivedMessage(date, 100015, 1, 433, "Garbled: b", false), 36015001);

    // Without text: only the time counts.
    EXPECT_EQ(db.insertArrivedMessage(date, 100000, 500, 447, " ", true), 36000500);
    EXPECT_EQ(db.insertArrivedMessage(date, 100009, 500, 447, " ", true), 0);
    EXPECT_EQ(db.insertArrivedMessage(date, 100010, 500, 447, " ", true), 36010500);

    // A number the database has no text for is logged like any other.
    EXPECT_EQ(db.insertArrivedMessage(date, 100020, 0, 999, "text", false), 36020000);
    EXPECT_EQ(db.insertArrivedMessage(date, 100021, 0, 999, "text", false), 0);

    EXPECT_EQ(Rows(), (std::vector<std::vector<std::string>>{
                          {"20240611", "36000000", "433"},
                          {"20240611", "36005001", "433"},
                          {"20240611", "36015001", "433"},
                          {"20240611", "36000500", "447"},
                          {"20240611", "36010500", "447"},
                          {"20240611", "36020000", "999"},
                      }));
}

TEST_F(MessageLog, StampsAreUniqueAndStayWithinTheDay) {
    const int date = 20240611;
    EXPECT_EQ(db.insertArrivedMessage(date, 120000, 7, 433, "a", false), 43200007);
    EXPECT_EQ(db.insertArrivedMessage(date, 120000, 7, 447, "b", false), 43200008);
    EXPECT_EQ(db.insertArrivedMessage(date, 235959, 999, 433, "c", false), 86399999);
    EXPECT_EQ(db.insertArrivedMessage(date, 235959, 999, 447, "d", false), 86399999);
}

TEST_F(MessageLog, EveryReportOfADayGetsAStampOfItsOwn) {
    // Stamps key the text rows: three reports in one millisecond, or one
    // after the clock stepped back onto used stamps, must not share a stamp
    // with an earlier one. Stamp 0 would read as "suppressed" and lose the
    // report.
    struct Step {
        int date, hhmmss, millis, number, expected;
    } steps[] = {
        {20240611, 0, 0, 433, 1},  // midnight: logged, stamp 1
        {20240611, 120000, 7, 433, 43200007},
        {20240611, 120000, 7, 447, 43200008},
        {20240611, 120000, 7, 428, 43200009},  // third in the same millisecond
        {20240611, 120000, 8, 429, 43200010},  // onto a used stamp
        {20240611, 115959, 0, 466, 43199000},  // earlier and free: as it is
        {20240612, 0, 0, 433, 1},              // the next day starts afresh
        {20240612, 0, 0, 447, 2},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(db.insertArrivedMessage(s.date, s.hhmmss, s.millis, s.number, "t", false),
                  s.expected)
            << s.date << " " << s.hhmmss << "." << s.millis;
    }
}

TEST_F(MessageLog, FailedInsertIsReported) {
    suite.Exec("DROP TABLE arrivedMessages;");
    EXPECT_EQ(db.insertArrivedMessage(20240611, 1, 0, 433, "a", false), -1);
    EXPECT_EQ(suite.DebugText("ZOR"),
              "505 (-1): INSERT INTO arrivedMessages(dateYYYYMMDD,millisecSinceMidnight,number) "
              "values (20240611,1000,433)\n");
}

TEST_F(MessageLog, TextRowsKeepTheirTextExactlyUpTo400Characters) {
    const std::string quotes(400, '\'');
    const std::string tricky = "it's '); DROP TABLE messages; --";
    const std::string eightBit = "Tr\xF8ndelag";
    const std::string longText(1000, 'l');
    ASSERT_EQ(db.insertArrivedMessageString(20240611, 1, 3, quotes + "tail"), 0);
    ASSERT_EQ(db.insertArrivedMessageString(20240611, 2, 3, tricky), 0);
    ASSERT_EQ(db.insertArrivedMessageString(20240611, 3, 3, eightBit), 0);
    ASSERT_EQ(db.insertArrivedMessageString(20240611, -1, 3, longText), 0);
    EXPECT_EQ(suite.Query("SELECT dateYYYYMMDD, millisecSinceMidnight, lang, mess FROM "
                          "arrivedMessagesString ORDER BY id"),
              (std::vector<std::vector<std::string>>{
                  {"20240611", "1", "3", quotes},
                  {"20240611", "2", "3", tricky},
                  {"20240611", "3", "3", eightBit},
                  {"20240611", "-1", "3", longText.substr(0, 400)},
              }));
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM messages"), 2);
    EXPECT_EQ(suite.DebugText("ZOR"), "");
}

}  // namespace
