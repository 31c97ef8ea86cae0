#pragma once
// Read access to the suite's tokens: named run-time parameters kept in the
// shared JSON token file "PELTokens.json" in the data folder. Other programs
// of the suite read and write that file under the byte-range lock of the
// lock file "token.lck" beside it in the data folder; every request re-reads
// the file under that lock, so changes by other programs are seen at once.
// When the token file does not exist at start, it is built from the suite's
// token database "zpel.db" (SQLite, through Qt SQL). Tokens asked for but not
// found are recorded in "missingtokens.txt" in the temporary folder.

#include <QSqlDatabase>
#include <QString>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "TokenClock.h"

struct TokenRecord {
    enum Type { kFloat = 1, kInteger = 2, kText = 3 };
    std::string description;  // UTF-8, at most 299 characters
    int type = 0;             // only the value matching the type is meaningful
    std::int32_t intValue = 0;
    double floatValue = 0.0;
    std::string textValue;  // local 8-bit encoding
};

// Token name (compared byte by byte, case-sensitive) -> record, name order.
using TokenTable = std::map<std::string, TokenRecord>;

class CGetToken {
  public:
    static constexpr int kLockTries = 100;
    static constexpr std::chrono::milliseconds kLockPause{100};
    static constexpr int kDescriptionLanguage = 3;
    static constexpr int kMaxDescription = 299;

    // Runs initTokens, and once more when it fails.
    CGetToken();
    // As above with a substitute clock; the clock must outlive the object.
    explicit CGetToken(CTokenClock& clock);
    ~CGetToken();
    CGetToken(const CGetToken&) = delete;
    CGetToken& operator=(const CGetToken&) = delete;

    // The process-wide token store, constructed at the first call, so that
    // the environment (data and temporary folders) is settled by then.
    static CGetToken& instance();

    // Opens the missing-token log; builds the token file from the token
    // database when the file is absent; reads the file. 0 or -1.
    int initTokens();

    // Reads every token of `db` into the token table (a name found in two
    // value tables keeps the last one read). Returns the table's size.
    int loadTokensFromDatabase(QSqlDatabase& db);

    // The description of a token in `language`; false when there is none.
    static bool getTokenDescription(QSqlDatabase& db, const QString& name, int language,
                                    std::string& description);

    // Re-reads the token file under the lock into the token table. A file
    // that is not a JSON object is moved aside. True when tokens were read.
    bool readJson();

    // Writes the token table to the token file under the lock; true on
    // success. An empty table is never written (the file is kept).
    bool saveJson();

    // The integer token `name` (type 2) from a fresh read, or 0.
    int getTokValueInt(const std::string& name);
    // The text token `name` (type 3) from a fresh read, or an empty text.
    std::string getTokValueStr(const std::string& name);

    // A copy of the token table as last read.
    TokenTable tokens() const;

    static std::string tokenFilePath();
    static std::string lockFilePath();
    static std::string missingTokenFilePath();
    static std::string tokenDatabasePath();

  private:
    enum class ReadResult { Failed, Empty, Read };
    // Reads the token file under the lock into `table` (filled only when
    // the result is not Failed).
    ReadResult readTokenFile(TokenTable& table);
    // Applies a read to the shared table (Empty or Read replace it).
    void keep(ReadResult result, TokenTable&& table);
    void recordMissing(const char* what, const std::string& name);

    CTokenClock& m_clock;
    mutable std::mutex m_mutex;  // guards m_tokens and m_missingFile's setup
    TokenTable m_tokens;
    struct FileCloser {
        void operator()(std::FILE* file) const;
    };
    std::unique_ptr<std::FILE, FileCloser> m_missingFile;
};
