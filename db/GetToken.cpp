#include "GetToken.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <exception>
#include <utility>

#include "FileLock.h"
#include "Paths.h"

namespace {

// A token file is a few kilobytes; anything near this size is not one.
constexpr qint64 kMaxTokenFileBytes = 16 * 1024 * 1024;

void debugLine(const QString& text) {
    qDebug("%s", qUtf8Printable(text));
}
void warningLine(const QString& text) {
    qWarning("%s", qUtf8Printable(text));
}

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// Cuts a description to the length the suite keeps, without splitting a
// UTF-16 surrogate pair.
std::string clipDescription(const QString& text) {
    int length = std::min<int>(text.size(), CGetToken::kMaxDescription);
    if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate()) --length;
    return text.left(length).toStdString();
}

// One read-only connection to the token database, private to the calling
// thread: Qt SQL connections may only be used by the thread that made them,
// and each needs a name of its own.
class TokenDatabase {
  public:
    explicit TokenDatabase(const QString& path) : m_name(uniqueName()) {
        m_db = QSqlDatabase::addDatabase("QSQLITE", m_name);
        m_db.setDatabaseName(path);
        // Read-only also means a missing file is not created empty.
        m_db.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (!m_db.open()) debugLine(m_db.lastError().text());
    }
    ~TokenDatabase() {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    TokenDatabase(const TokenDatabase&) = delete;
    TokenDatabase& operator=(const TokenDatabase&) = delete;

    bool isOpen() const { return m_db.isOpen(); }
    QSqlDatabase& db() { return m_db; }

  private:
    static QString uniqueName() {
        static std::atomic<unsigned> counter{0};
        return QStringLiteral("ZORTokenDb-%1").arg(counter.fetch_add(1) + 1);
    }
    QString m_name;
    QSqlDatabase m_db;
};

// The last row's first column of a query with bound values; invalid when
// the statement fails or returns no row.
QVariant lastValue(QSqlDatabase& db, const QString& statement, const QVariantList& values) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(statement)) {
        debugLine(query.lastError().text());
        return QVariant();
    }
    for (const QVariant& value : values) query.addBindValue(value);
    if (!query.exec()) {
        debugLine(query.lastError().text());
        return QVariant();
    }
    QVariant last;
    while (query.next()) last = query.value(0);
    if (query.lastError().isValid()) {
        debugLine(query.lastError().text());
        return QVariant();
    }
    return last;
}

}  // namespace

void CGetToken::FileCloser::operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
}

CGetToken::CGetToken() : CGetToken(CTokenClock::system()) {}

CGetToken::CGetToken(CTokenClock& clock) : m_clock(clock) {
    if (initTokens() != 0) initTokens();
}

CGetToken::~CGetToken() = default;

CGetToken& CGetToken::instance() {
    static CGetToken store;
    return store;
}

std::string CGetToken::tokenFilePath() {
    return platform::DataFolder() + "PELTokens.json";
}
// Beside the token file, not in the temporary folder: every process that
// shares the token file must take the same lock, whatever its TMPDIR.
std::string CGetToken::lockFilePath() {
    return platform::DataFolder() + "token.lck";
}
std::string CGetToken::missingTokenFilePath() {
    return platform::TempFolder() + "missingtokens.txt";
}
std::string CGetToken::tokenDatabasePath() {
    return platform::DataFolder() + "zpel.db";
}

int CGetToken::initTokens() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_missingFile) m_missingFile.reset(std::fopen(missingTokenFilePath().c_str(), "a"));
    }
    if (!QFileInfo::exists(fromStd(tokenFilePath()))) {
        TokenDatabase database(fromStd(tokenDatabasePath()));
        if (!database.isOpen()) return -1;
        if (tokens().empty()) {
            debugLine("Init tokens. Empty list");
            if (loadTokensFromDatabase(database.db()) == 0) {
                warningLine("No tokens in database");
                return -1;
            }
        }
        saveJson();
    }
    return readJson() ? 0 : -1;
}

int CGetToken::loadTokensFromDatabase(QSqlDatabase& db) {
    struct Source {
        int type;
        const char* statement;
    };
    static const Source sources[] = {
        {TokenRecord::kFloat,
         "select value_id, token, float_values.value from token_value inner join float_values "
         "on token_value.value_id = float_values.id"},
        {TokenRecord::kInteger,
         "select value_id, token, integer_values.value from token_value inner join "
         "integer_values on token_value.value_id = integer_values.id"},
        {TokenRecord::kText,
         "select value_id, token, varchar_values.value from token_value inner join "
         "varchar_values on token_value.value_id = varchar_values.id"},
    };
    // Read first, then merge under the lock: no database work while holding it.
    std::vector<std::pair<std::string, TokenRecord>> read;
    for (const Source& source : sources) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QString::fromLatin1(source.statement))) {
            debugLine(query.lastError().text());
            continue;
        }
        while (query.next()) {
            const QString name = query.value(1).toString();
            TokenRecord record;
            record.type = source.type;
            const QVariant value = query.value(2);
            switch (source.type) {
                case TokenRecord::kFloat:
                    // Stored single-precision; held as double.
                    record.floatValue = static_cast<double>(value.toFloat());
                    break;
                case TokenRecord::kInteger:
                    record.intValue = value.toInt();
                    break;
                default:
                    record.textValue = value.toString().toLocal8Bit().toStdString();
                    break;
            }
            std::string description;
            if (getTokenDescription(db, name, kDescriptionLanguage, description))
                record.description = std::move(description);
            read.emplace_back(name.toStdString(), std::move(record));
        }
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    for (auto& entry : read) m_tokens[entry.first] = std::move(entry.second);
    return static_cast<int>(m_tokens.size());
}

bool CGetToken::getTokenDescription(QSqlDatabase& db, const QString& name, int language,
                                    std::string& description) {
    // Values are bound, never pasted into the statement text.
    const QVariant tokenDescription =
        lastValue(db, "select description_id from token_value where token=upper(?)", {name});
    if (!tokenDescription.isValid() || tokenDescription.isNull()) return false;
    const QVariant languageDescription =
        lastValue(db, "select description_id from descriptions_language where id=? and language=?",
                  {tokenDescription.toInt(), language});
    if (!languageDescription.isValid() || languageDescription.isNull()) return false;
    const QVariant text = lastValue(db, "select description from descriptions where id=?",
                                    {languageDescription.toInt()});
    if (!text.isValid() || text.isNull()) return false;
    description = clipDescription(text.toString());
    return true;
}

namespace {

// Takes the suite's token lock: bytes 0 to 255 of the lock file, tried
// without waiting, kLockTries times kLockPause apart. The lock lasts as long
// as `lock` stays open.
bool takeTokenLock(platform::FileLock& lock, CTokenClock& clock) {
    if (!lock.Open(CGetToken::lockFilePath())) {
        warningLine("Error creating handle to new file.");
        return false;
    }
    for (int attempt = 1;; ++attempt) {
        if (lock.TryLock(0, 256) == platform::FileLock::Status::Locked) {
            debugLine("File lock secured");
            return true;
        }
        debugLine("File lock failed. Sleep some");
        if (attempt >= CGetToken::kLockTries) break;
        clock.sleepFor(CGetToken::kLockPause);
    }
    warningLine(
        QStringLiteral("File lock failed. Giving up after %1 tries").arg(CGetToken::kLockTries));
    lock.Close();
    return false;
}

}  // namespace

CGetToken::ReadResult CGetToken::readTokenFile(TokenTable& table) {
    platform::FileLock lock;
    if (!takeTokenLock(lock, m_clock)) return ReadResult::Failed;
    debugLine("Read json file");
    try {
        const QString path = fromStd(tokenFilePath());
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            warningLine("Couldn't open file.");
            return ReadResult::Failed;
        }
        if (file.size() > kMaxTokenFileBytes) {
            warningLine(QStringLiteral("CGetToken - token file larger than %1 bytes, not read")
                            .arg(kMaxTokenFileBytes));
            return ReadResult::Failed;
        }
        const QByteArray content = file.read(kMaxTokenFileBytes);
        file.close();
        const QJsonDocument document = QJsonDocument::fromJson(content);
        if (!document.isObject()) {
            warningLine("CGetToken - isObject is false");
            // Set the file aside rather than delete it: a hand-edited file
            // with one stray comma must not be lost.
            const QString stamp = m_clock.localNow().toString("yyyyMMdd_hhmmss");
            QString aside = path + ".corrupt-" + stamp;
            for (int n = 2; QFileInfo::exists(aside) && n < 1000; ++n)
                aside = path + ".corrupt-" + stamp + "-" + QString::number(n);
            if (QFile::rename(path, aside))
                warningLine("CGetToken - unreadable token file moved to " + aside);
            else
                warningLine("CGetToken - could not move the unreadable token file aside");
            return ReadResult::Failed;
        }
        table.clear();
        const QJsonArray entries = document.object().value("tokens").toArray();
        for (const QJsonValue& entry : entries) {
            const QJsonObject object = entry.toObject();
            if (object.isEmpty()) continue;
            TokenRecord record;
            record.description = clipDescription(object.value("Descr").toString());
            record.type = object.value("Type").toInt();
            const QString value = object.value("Value").toString();
            switch (record.type) {
                case TokenRecord::kFloat:
                    record.floatValue = value.toDouble();
                    break;
                case TokenRecord::kInteger:
                    record.intValue = value.toInt(nullptr, 10);
                    break;
                case TokenRecord::kText:
                    record.textValue = value.toLocal8Bit().toStdString();
                    break;
                default:
                    break;
            }
            table[object.value("Name").toString().toStdString()] = std::move(record);
        }
        if (!table.empty()) {
            debugLine("CGetToken - read OK");
            return ReadResult::Read;
        }
        debugLine("token size is 0");
        return ReadResult::Empty;
    } catch (const std::exception& e) {
        debugLine(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        debugLine("Unknown exception");
    }
    return ReadResult::Failed;
}

void CGetToken::keep(ReadResult result, TokenTable&& table) {
    if (result == ReadResult::Failed) return;
    std::lock_guard<std::mutex> guard(m_mutex);
    m_tokens = std::move(table);
}

bool CGetToken::readJson() {
    TokenTable table;
    const ReadResult result = readTokenFile(table);
    keep(result, std::move(table));
    return result == ReadResult::Read;
}

bool CGetToken::saveJson() {
    debugLine("saveJson");
    platform::FileLock lock;
    if (!takeTokenLock(lock, m_clock)) return false;
    const TokenTable table = tokens();
    // Checked before the file is touched: an empty table must not wipe it.
    if (table.empty()) return false;

    QJsonArray entries;
    for (const auto& [name, record] : table) {
        QString value;
        switch (record.type) {
            case TokenRecord::kFloat:
                value = QString::number(record.floatValue, 'g', 6);
                break;
            case TokenRecord::kInteger:
                value = QString::number(record.intValue);
                break;
            case TokenRecord::kText:
                value = QString::fromLocal8Bit(record.textValue.c_str(),
                                               static_cast<int>(record.textValue.size()));
                break;
            default:
                break;
        }
        QJsonObject object;
        object.insert("Name", fromStd(name));
        object.insert("Descr", fromStd(record.description));
        object.insert("Type", record.type);
        object.insert("Value", value);
        entries.append(object);
    }
    QJsonObject root;
    root.insert("version", "1");
    root.insert("lastsave", m_clock.localNow().toString("yyyyMMdd_hhmmss"));
    root.insert("tokens", entries);

    // Written to a temporary file and renamed over the old one, so that a
    // failed write leaves the previous token file whole.
    QSaveFile file(fromStd(tokenFilePath()));
    if (!file.open(QIODevice::WriteOnly)) {
        warningLine("Couldn't open save file.");
        return false;
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        warningLine("Couldn't write save file.");
        return false;
    }
    return true;
}

void CGetToken::recordMissing(const char* what, const std::string& name) {
    std::FILE* file;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        file = m_missingFile.get();  // set once, kept for the object's life
    }
    if (file == nullptr) return;
    const std::string line = std::string(what) + " missing token " + name + "\n";
    std::fputs(line.c_str(), file);
    std::fflush(file);
}

int CGetToken::getTokValueInt(const std::string& name) {
    debugLine("Get token " + fromStd(name));
    // The lookup is made in the table of this request's own read, so a
    // concurrent request cannot swap the table between read and lookup.
    TokenTable table;
    const ReadResult result = readTokenFile(table);
    if (result != ReadResult::Read) {
        keep(result, std::move(table));
        return 0;
    }
    const auto it = table.find(name);
    const bool found = it != table.end() && it->second.type == TokenRecord::kInteger;
    const int value = found ? it->second.intValue : 0;
    keep(result, std::move(table));
    if (!found) {
        warningLine("CGetToken - Not found " + fromStd(name));
        recordMissing("getTokValueInt", name);
    }
    return value;
}

std::string CGetToken::getTokValueStr(const std::string& name) {
    debugLine("Get token " + fromStd(name));
    TokenTable table;
    const ReadResult result = readTokenFile(table);
    if (result != ReadResult::Read) {
        keep(result, std::move(table));
        warningLine("CGetToken - read failed");
        return std::string();
    }
    const auto it = table.find(name);
    const bool found = it != table.end() && it->second.type == TokenRecord::kText;
    std::string value = found ? it->second.textValue : std::string();
    keep(result, std::move(table));
    if (!found) {
        warningLine("CGetToken - Not found " + fromStd(name));
        recordMissing("getTokValueStr", name);
    }
    return value;
}

TokenTable CGetToken::tokens() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_tokens;
}
