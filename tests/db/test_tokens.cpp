// The token store against real files: the token file and its lock file in
// a per-test folder, the token database built with SQLite, and a second
// process holding the lock where the lock matters.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "GetToken.h"
#include "LockHolder.h"
#include "Paths.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// What the store writes to Qt's message output.
class QtMessages {
  public:
    static QtMessages& get() {
        static QtMessages messages;
        return messages;
    }
    void install() {
        clear();
        qInstallMessageHandler(&QtMessages::handler);
    }
    void uninstall() { qInstallMessageHandler(nullptr); }
    void clear() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_lines.clear();
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_lines;
    }
    int count(const std::string& line) const {
        int n = 0;
        for (const auto& l : lines()) n += l == line ? 1 : 0;
        return n;
    }

  private:
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& text) {
        const char* level = type == QtDebugMsg     ? "debug: "
                            : type == QtWarningMsg ? "warning: "
                                                   : "other: ";
        QtMessages& self = get();
        std::lock_guard<std::mutex> guard(self.m_mutex);
        self.m_lines.push_back(level + text.toStdString());
    }
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class FakeClock : public CTokenClock {
  public:
    QDateTime localNow() const override { return now; }
    void sleepFor(std::chrono::milliseconds pause) override {
        ++sleeps;
        slept += pause;
    }
    QDateTime now{QDate(2024, 3, 5), QTime(14, 7, 9)};
    std::atomic<int> sleeps{0};
    std::chrono::milliseconds slept{0};
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool exists(const std::string& path) {
    return QFile::exists(QString::fromStdString(path));
}

const char* kSchema = R"(
CREATE TABLE token_value (value_id INTEGER, token TEXT, description_id INTEGER);
CREATE TABLE float_values (id INTEGER PRIMARY KEY, value REAL);
CREATE TABLE integer_values (id INTEGER PRIMARY KEY, value INTEGER);
CREATE TABLE varchar_values (id INTEGER PRIMARY KEY, value TEXT);
CREATE TABLE descriptions_language (id INTEGER, language INTEGER, description_id INTEGER);
CREATE TABLE descriptions (id INTEGER PRIMARY KEY, description TEXT);
)";

// Three tokens, one of each type, given in an order other than name order.
const char* kThreeTokens = R"(
INSERT INTO float_values VALUES (101, 0.1);
INSERT INTO integer_values VALUES (201, 42);
INSERT INTO varchar_values VALUES (301, 'COM7');
INSERT INTO token_value VALUES (301, 'SSV_PORT_NAME', 31), (201, 'RUNT_PARAM_RTCM_INIT_START_DISABLE', 21),
                               (101, 'GRID_FACTOR', 11);
INSERT INTO descriptions_language VALUES (21, 1, 2021), (21, 3, 1021), (31, 3, 1031), (31, 3, 1032);
INSERT INTO descriptions VALUES (1021, 'Suppress loggers'), (2021, 'other language'),
                                (1031, 'first row'), (1032, 'last row wins');
)";

class TokenStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        const std::string root = m_root.path().toStdString();
        ::setenv("ProgramData", (root + "/ProgramData").c_str(), 1);
        ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(root + "/tmp")));
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(platform::DataFolder())));
        QtMessages::get().install();
    }
    void TearDown() override { QtMessages::get().uninstall(); }

    void makeDatabase(const std::string& rows) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(CGetToken::tokenDatabasePath().c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        const int rc =
            sqlite3_exec(db, (std::string(kSchema) + rows).c_str(), nullptr, nullptr, &error);
        const std::string text = error != nullptr ? error : "";
        sqlite3_free(error);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK) << text;
    }

    static std::string tokenFile(std::initializer_list<const char*> entries) {
        std::string text = R"({"version": "1", "lastsave": "20240101_000000", "tokens": [)";
        bool first = true;
        for (const char* e : entries) {
            text += first ? "" : ",";
            text += e;
            first = false;
        }
        return text + "]}";
    }

    static QJsonObject readTokenFileJson() {
        return QJsonDocument::fromJson(
                   QByteArray::fromStdString(readAll(CGetToken::tokenFilePath())))
            .object();
    }

    static std::vector<std::string> missingLines() {
        std::vector<std::string> lines;
        std::istringstream in(readAll(CGetToken::missingTokenFilePath()));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    static QStringList asideFiles() {
        return QDir(QString::fromStdString(platform::DataFolder()))
            .entryList({"PELTokens.json.corrupt-*"}, QDir::Files, QDir::Name);
    }

    QTemporaryDir m_root;
    FakeClock m_clock;
};

const char* kInt = R"({"Name": "SSV_COM_PORT", "Descr": "port", "Type": 2, "Value": "5"})";
const char* kFloat = R"({"Name": "DRAUGHT", "Descr": "", "Type": 1, "Value": "4.25"})";
const char* kText = R"({"Name": "CALLSIGN", "Descr": "", "Type": 3, "Value": "LDEM7"})";

TEST_F(TokenStoreTest, BuildsTheTokenFileFromTheDatabaseInNameOrder) {
    makeDatabase(kThreeTokens);
    ASSERT_FALSE(exists(CGetToken::tokenFilePath()));
    CGetToken store(m_clock);

    const QJsonObject root = readTokenFileJson();
    EXPECT_EQ(root.value("version").toString(), "1");
    EXPECT_EQ(root.value("lastsave").toString(), "20240305_140709");
    const QJsonArray tokens = root.value("tokens").toArray();
    ASSERT_EQ(tokens.size(), 3);
    auto token = [&](int i) { return tokens.at(i).toObject(); };
    EXPECT_EQ(token(0).value("Name").toString(), "GRID_FACTOR");
    EXPECT_EQ(token(1).value("Name").toString(), "RUNT_PARAM_RTCM_INIT_START_DISABLE");
    EXPECT_EQ(token(2).value("Name").toString(), "SSV_PORT_NAME");
    // Types are numbers; values are texts (floating as %g of the
    // single-precision value).
    EXPECT_EQ(token(0).value("Type").toInt(-1), 1);
    EXPECT_EQ(token(0).value("Value").toString(), "0.1");
    EXPECT_EQ(token(1).value("Type").toInt(-1), 2);
    EXPECT_EQ(token(1).value("Value").toString(), "42");
    EXPECT_EQ(token(2).value("Type").toInt(-1), 3);
    EXPECT_EQ(token(2).value("Value").toString(), "COM7");
    // Descriptions: language 3 only, last row of each step, none when the
    // chain breaks.
    EXPECT_EQ(token(0).value("Descr").toString(), "");
    EXPECT_EQ(token(1).value("Descr").toString(), "Suppress loggers");
    EXPECT_EQ(token(2).value("Descr").toString(), "last row wins");
    EXPECT_THAT(readAll(CGetToken::tokenFilePath()), HasSubstr("\n    ")) << "indented";

    EXPECT_EQ(QtMessages::get().count("debug: Init tokens. Empty list"), 1);
    EXPECT_EQ(store.getTokValueInt("RUNT_PARAM_RTCM_INIT_START_DISABLE"), 42);
    EXPECT_EQ(store.getTokValueStr("SSV_PORT_NAME"), "COM7");
    EXPECT_DOUBLE_EQ(store.tokens().at("GRID_FACTOR").floatValue, 0.1)
        << "as read back from the file";
}

TEST_F(TokenStoreTest, DatabaseIsReadOnlyWhenTheTokenFileIsAbsent) {
    makeDatabase(kThreeTokens);
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt}));
    const std::string before = readAll(CGetToken::tokenFilePath());
    CGetToken store(m_clock);
    EXPECT_EQ(readAll(CGetToken::tokenFilePath()), before);
    EXPECT_EQ(store.tokens().size(), 1u);
    EXPECT_EQ(QtMessages::get().count("debug: Init tokens. Empty list"), 0);
}

TEST_F(TokenStoreTest, NoDatabaseOrAnEmptyOneLeavesNoTokenFile) {
    {
        CGetToken store(m_clock);
        EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
        EXPECT_FALSE(exists(CGetToken::tokenDatabasePath())) << "a missing database is not created";
    }
    makeDatabase("");
    CGetToken store(m_clock);
    EXPECT_FALSE(exists(CGetToken::tokenFilePath()));
    EXPECT_EQ(QtMessages::get().count("warning: No tokens in database"), 2)
        << "construction and its retry";
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
}

TEST_F(TokenStoreTest, ANameInTwoValueTablesKeepsTheLastRead) {
    makeDatabase(R"(
INSERT INTO integer_values VALUES (201, 7);
INSERT INTO varchar_values VALUES (301, 'seven');
INSERT INTO token_value VALUES (201, 'DUP', NULL), (301, 'DUP', NULL);
)");
    CGetToken store(m_clock);
    EXPECT_EQ(store.getTokValueInt("DUP"), 0);
    EXPECT_EQ(store.getTokValueStr("DUP"), "seven");
}

// Descriptions: clipped to 299 characters; names reach the statements as
// bound values, so a quote in a name is just a character; the lookup is by
// the upper-case name, so a lower-case name has none.
TEST_F(TokenStoreTest, DescriptionsAreClippedAndLookedUpByBoundName) {
    const std::string longText(400, 'd');
    makeDatabase(R"(
INSERT INTO integer_values VALUES (201, 1), (202, 2), (203, 3);
INSERT INTO token_value VALUES (201, 'LONG', 21), (202, 'O''BRIEN', 22), (203, 'lower', 23);
INSERT INTO descriptions_language VALUES (21, 3, 1021), (22, 3, 1022), (23, 3, 1023);
INSERT INTO descriptions VALUES (1021, ')" +
                 longText + R"('), (1022, 'quoted'), (1023, 'never');
)");
    CGetToken store(m_clock);
    const TokenTable table = store.tokens();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table.at("LONG").description, std::string(299, 'd'));
    EXPECT_EQ(table.at("O'BRIEN").description, "quoted");
    EXPECT_EQ(table.at("lower").description, "");
    EXPECT_EQ(store.getTokValueInt("O'BRIEN"), 2);
}

TEST_F(TokenStoreTest, AnswersOnlyTheMatchingTypeAndExactNameAndRecordsMisses) {
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt, kFloat, kText}));
    CGetToken store(m_clock);
    QtMessages::get().clear();

    struct Case {
        const char* name;
        bool asInt;
        int intValue;
        const char* textValue;
        const char* missingLine;  // nullptr: found
    } cases[] = {
        {"SSV_COM_PORT", true, 5, "", nullptr},
        {"DRAUGHT", true, 0, "", "getTokValueInt missing token DRAUGHT"},
        {"CALLSIGN", true, 0, "", "getTokValueInt missing token CALLSIGN"},
        {"ssv_com_port", true, 0, "", "getTokValueInt missing token ssv_com_port"},
        {"SSV_COM_PORT ", true, 0, "", "getTokValueInt missing token SSV_COM_PORT "},
        {"CALLSIGN", false, 0, "LDEM7", nullptr},
        {"SSV_COM_PORT", false, 0, "", "getTokValueStr missing token SSV_COM_PORT"},
        {"callsign", false, 0, "", "getTokValueStr missing token callsign"},
        {"NOPE", false, 0, "", "getTokValueStr missing token NOPE"},
    };
    std::vector<std::string> expectedLines;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtMessages::get().clear();
        if (c.asInt)
            EXPECT_EQ(store.getTokValueInt(c.name), c.intValue);
        else
            EXPECT_EQ(store.getTokValueStr(c.name), c.textValue);
        EXPECT_EQ(QtMessages::get().count(std::string("debug: Get token ") + c.name), 1);
        EXPECT_EQ(QtMessages::get().count(std::string("warning: CGetToken - Not found ") + c.name),
                  c.missingLine != nullptr ? 1 : 0);
        if (c.missingLine != nullptr) expectedLines.push_back(c.missingLine);
        EXPECT_EQ(missingLines(), expectedLines);
    }
}

TEST_F(TokenStoreTest, EveryRequestSeesTheFileAsItIsNow) {
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt}));
    CGetToken store(m_clock);
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 5);
    writeAll(CGetToken::tokenFilePath(),
             tokenFile({R"({"Name": "SSV_COM_PORT", "Descr": "", "Type": 2, "Value": "-9"})"}));
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), -9);
    std::remove(CGetToken::tokenFilePath().c_str());
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
    EXPECT_EQ(QtMessages::get().count("warning: Couldn't open file."), 1);
    EXPECT_EQ(store.getTokValueStr("CALLSIGN"), "");
    EXPECT_EQ(QtMessages::get().count("warning: CGetToken - read failed"), 1);
    EXPECT_TRUE(missingLines().empty()) << "a failed read is not a missing token";
}

TEST_F(TokenStoreTest, AFileThatIsNotAnObjectIsMovedAsideAtTheNextRequest) {
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt}));
    CGetToken store(m_clock);
    writeAll(CGetToken::tokenFilePath(), "[]");
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
    EXPECT_FALSE(exists(CGetToken::tokenFilePath()));
    EXPECT_EQ(QtMessages::get().count("warning: CGetToken - isObject is false"), 1);
    ASSERT_THAT(asideFiles(), ElementsAre("PELTokens.json.corrupt-20240305_140709"));
    EXPECT_EQ(readAll(platform::DataFolder() + "PELTokens.json.corrupt-20240305_140709"), "[]");
    // Until someone provides a file again, requests answer 0.
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
    // A second bad file in the same second does not overwrite the first.
    writeAll(CGetToken::tokenFilePath(), "{broken");
    EXPECT_EQ(store.getTokValueStr("SSV_COM_PORT"), "");
    EXPECT_THAT(asideFiles(), ElementsAre("PELTokens.json.corrupt-20240305_140709",
                                          "PELTokens.json.corrupt-20240305_140709-2"));
    EXPECT_EQ(readAll(platform::DataFolder() + "PELTokens.json.corrupt-20240305_140709-2"),
              "{broken");
}

// Bad token files: the answer is the default, nothing crashes, and the
// file's content survives either in place or set aside.
TEST_F(TokenStoreTest, BadTokenFilesAnswerDefaultsAndAreNeverLost) {
    struct Case {
        const char* what;
        std::string content;
        bool setAside;
        int intAnswer;  // for SSV_COM_PORT
    } cases[] = {
        {"garbage", "this is not json at all \x01\xff", true, 0},
        {"empty file", "", true, 0},
        {"a JSON text", R"("tokens")", true, 0},
        {"truncated object", R"({"tokens": [{"Name": "SSV_COM_PORT", "Type": 2, "Value": "5"})",
         true, 0},
        {"no tokens array", R"({"version": "1"})", false, 0},
        {"tokens not an array", R"({"tokens": {"Name": "SSV_COM_PORT", "Type": 2, "Value": "5"}})",
         false, 0},
        {"empty list", R"({"tokens": []})", false, 0},
        {"entries not objects", R"({"tokens": [1, "x", null, {}, []]})", false, 0},
        {"type as text", tokenFile({R"({"Name": "SSV_COM_PORT", "Type": "2", "Value": "5"})"}),
         false, 0},
        {"type not whole", tokenFile({R"({"Name": "SSV_COM_PORT", "Type": 2.5, "Value": "5"})"}),
         false, 0},
        {"value a number", tokenFile({R"({"Name": "SSV_COM_PORT", "Type": 2, "Value": 5})"}), false,
         0},
        {"value not numeric", tokenFile({R"({"Name": "SSV_COM_PORT", "Type": 2, "Value": "5x"})"}),
         false, 0},
        {"value too large",
         tokenFile({R"({"Name": "SSV_COM_PORT", "Type": 2, "Value": "4294967301"})"}), false, 0},
        {"no name", tokenFile({R"({"Type": 2, "Value": "5"})"}), false, 0},
        {"valid among bad", tokenFile({"7", R"({"Type": 3})", kInt}), false, 5},
    };
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt}));
    CGetToken store(m_clock);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QString& f : asideFiles())
            QFile::remove(QString::fromStdString(platform::DataFolder()) + f);
        writeAll(CGetToken::tokenFilePath(), c.content);
        m_clock.now = m_clock.now.addSecs(1);
        EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), c.intAnswer);
        EXPECT_EQ(store.getTokValueStr("SSV_COM_PORT"), "");
        if (c.setAside) {
            EXPECT_FALSE(exists(CGetToken::tokenFilePath()));
            const QStringList aside = asideFiles();
            ASSERT_EQ(aside.size(), 1);
            EXPECT_EQ(readAll(platform::DataFolder() + aside.front().toStdString()), c.content);
        } else {
            EXPECT_EQ(readAll(CGetToken::tokenFilePath()), c.content);
            EXPECT_TRUE(asideFiles().isEmpty());
        }
    }
}

TEST_F(TokenStoreTest, AnEmptyTableNeverOverwritesTheFile) {
    writeAll(CGetToken::tokenFilePath(), R"({"tokens": []})");
    CGetToken store(m_clock);
    EXPECT_TRUE(store.tokens().empty());
    EXPECT_FALSE(store.saveJson());
    EXPECT_EQ(readAll(CGetToken::tokenFilePath()), R"({"tokens": []})");
}

TEST_F(TokenStoreTest, SaveAndReadRoundTrip) {
    writeAll(
        CGetToken::tokenFilePath(),
        tokenFile({kFloat, kText,
                   R"({"Name": "N", "Descr": "d\u00e9crit", "Type": 2, "Value": "-2147483648"})",
                   R"({"Name": "PI", "Descr": "", "Type": 1, "Value": "3.14159265"})"}));
    CGetToken store(m_clock);
    const TokenTable before = store.tokens();
    ASSERT_TRUE(store.saveJson());
    ASSERT_TRUE(store.readJson());
    const TokenTable after = store.tokens();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.at("N").intValue, INT32_MIN);
    EXPECT_EQ(after.at("N").description,
              "d\xc3\xa9"
              "crit");
    EXPECT_EQ(after.at("CALLSIGN").textValue, "LDEM7");
    EXPECT_DOUBLE_EQ(after.at("DRAUGHT").floatValue, 4.25);
    EXPECT_DOUBLE_EQ(after.at("PI").floatValue, 3.14159) << "six significant digits, as %g";
}

TEST_F(TokenStoreTest, ALockHeldElsewhereMakesTheRequestGiveUpAfterAllTries) {
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt, kText}));
    CGetToken store(m_clock);
    LockHolder holder(CGetToken::lockFilePath(), 60000);
    ASSERT_EQ(holder.Word(), "locked");
    QtMessages::get().clear();
    m_clock.sleeps = 0;
    m_clock.slept = std::chrono::milliseconds(0);

    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
    EXPECT_EQ(QtMessages::get().count("debug: File lock failed. Sleep some"), 100);
    EXPECT_EQ(m_clock.sleeps, 99) << "100 tries, 100 ms apart";
    EXPECT_EQ(m_clock.slept, std::chrono::milliseconds(9900));
    EXPECT_EQ(QtMessages::get().count("warning: File lock failed. Giving up after 100 tries"), 1);
    EXPECT_EQ(QtMessages::get().count("debug: Read json file"), 0);
    EXPECT_EQ(store.getTokValueStr("CALLSIGN"), "");
    EXPECT_EQ(QtMessages::get().count("warning: CGetToken - read failed"), 1);
    EXPECT_TRUE(missingLines().empty());
    EXPECT_FALSE(store.saveJson());
    EXPECT_EQ(readAll(CGetToken::tokenFilePath()), tokenFile({kInt, kText}));
}

// Two processes sharing the token file but started with different temporary
// folders (a service with a private one, sudo) must take the same lock.
TEST_F(TokenStoreTest, TheLockIsBesideTheTokenFileWhateverTheTemporaryFolder) {
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt}));
    CGetToken store(m_clock);
    EXPECT_EQ(CGetToken::lockFilePath(), platform::DataFolder() + "token.lck");
    LockHolder holder(CGetToken::lockFilePath(), 60000);
    ASSERT_EQ(holder.Word(), "locked");
    const std::string otherTemp = m_root.path().toStdString() + "/other-tmp";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(otherTemp)));
    ::setenv("TMPDIR", otherTemp.c_str(), 1);
    QtMessages::get().clear();

    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
    EXPECT_EQ(QtMessages::get().count("warning: File lock failed. Giving up after 100 tries"), 1);
    EXPECT_FALSE(exists(otherTemp + "/token.lck"));
}

TEST_F(TokenStoreTest, TheRealWaitIsAboutTenSeconds) {
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt}));
    CGetToken store;  // the real clock
    LockHolder holder(CGetToken::lockFilePath(), 15000);
    ASSERT_EQ(holder.Word(), "locked");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(9900));
    EXPECT_LT(waited, std::chrono::milliseconds(14000));
}

TEST_F(TokenStoreTest, ARequestWaitsForALockReleasedInTime) {
    writeAll(CGetToken::tokenFilePath(), tokenFile({kInt}));
    CGetToken store;  // the real clock
    LockHolder holder(CGetToken::lockFilePath(), 300);
    ASSERT_EQ(holder.Word(), "locked");
    QtMessages::get().clear();
    EXPECT_EQ(store.getTokValueInt("SSV_COM_PORT"), 5);
    EXPECT_GE(QtMessages::get().count("debug: File lock failed. Sleep some"), 1);
    EXPECT_EQ(QtMessages::get().count("debug: File lock secured"), 1);
}

// Readers on several threads while the file is rewritten under the lock:
// every answer comes from one whole file, never from a torn or empty one.
TEST_F(TokenStoreTest, ConcurrentRequestsAndRewritesNeverSeeATornFile) {
    const std::string one = tokenFile({R"({"Name": "V", "Descr": "", "Type": 2, "Value": "1"})"});
    const std::string two = tokenFile({R"({"Name": "V", "Descr": "", "Type": 2, "Value": "2"})"});
    writeAll(CGetToken::tokenFilePath(), one);
    CGetToken writerOne;
    writeAll(CGetToken::tokenFilePath(), two);
    CGetToken writerTwo;
    CGetToken shared;

    std::atomic<int> readersLeft{3};
    std::atomic<int> bad{0};
    std::atomic<int> saves{0};
    std::thread writer([&] {
        for (int i = 0; readersLeft > 0; ++i) {
            if ((i % 2 == 0 ? writerOne : writerTwo).saveJson()) ++saves;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                const int v = shared.getTokValueInt("V");
                if (v != 1 && v != 2) ++bad;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            --readersLeft;
        });
    for (auto& r : readers) r.join();
    writer.join();
    EXPECT_GT(saves, 0);
    EXPECT_EQ(bad, 0);
    EXPECT_TRUE(missingLines().empty());
}

}  // namespace

namespace {

// The demo suite ships both the token database script and the token file
// built from it; they must not drift apart.
TEST_F(TokenStoreTest, DemoTokenFileIsTheOneBuiltFromTheDemoDatabase) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(CGetToken::tokenDatabasePath().c_str(), &db), SQLITE_OK);
    const std::string script = readAll(std::string(ZOR_DEMO_DATA) + "/zpel-tokens.sql");
    ASSERT_FALSE(script.empty());
    const int rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);

    CGetToken built(m_clock);
    const QJsonArray fromDatabase = readTokenFileJson().value("tokens").toArray();
    const QJsonObject shipped =
        QJsonDocument::fromJson(
            QByteArray::fromStdString(readAll(std::string(ZOR_DEMO_DATA) + "/PELTokens.json")))
            .object();
    EXPECT_EQ(shipped.value("version").toString(), "1");
    EXPECT_EQ(shipped.value("tokens").toArray(), fromDatabase);

    writeAll(CGetToken::tokenFilePath(), readAll(std::string(ZOR_DEMO_DATA) + "/PELTokens.json"));
    EXPECT_EQ(built.getTokValueInt("RUNT_PARAM_RTCM_INIT_START_DISABLE"), 0);
    EXPECT_TRUE(missingLines().empty()) << "the token ZOR reads is in the demo file";
}

}  // namespace
