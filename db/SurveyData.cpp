#include "SurveyData.h"

#include <QMap>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>

#include "Paths.h"

namespace {

// Whether the values of a first load were written back in this process.
std::atomic<bool> s_savedInProcess{false};

const char* const kDefaultRawRoot = "C:/peldata/raw/";
const char* const kDefaultGridRoot = "C:/peldata/grids/";
const char* const kFileNameStructure = "CNT _ YEAR MONTH DAY _ HOUR MIN SEC";

// A text setting. An unquoted value with commas in it comes back from the
// INI reader as a list; it is the text the operator wrote, so rejoin it.
QString text(const QSettings& settings, const QString& key, const QString& fallback) {
    const QVariant value = settings.value(key, fallback);
    if (value.type() == QVariant::StringList) return value.toStringList().join(", ");
    return value.toString();
}

// An integer setting; a value that is not a number reads as 0.
int integer(const QSettings& settings, const QString& key, int fallback) {
    const QVariant value = settings.value(key, fallback);
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : 0;
}

std::string toUtf8(const QString& text) {
    return text.toStdString();
}

// What identifies one version of the settings file on disk.
struct FileStamp {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified{};
    bool operator==(const FileStamp& other) const {
        return size == other.size && modified == other.modified;
    }
};

// Nothing when the file cannot be examined (missing, say): never trusted.
std::optional<FileStamp> Stamp(const std::string& path) {
    std::error_code error;
    FileStamp stamp;
    stamp.modified = std::filesystem::last_write_time(path, error);
    if (error) return std::nullopt;
    stamp.size = std::filesystem::file_size(path, error);
    if (error) return std::nullopt;
    return stamp;
}

// The process-wide copy of the raw-path settings.
struct RawPathCache {
    std::mutex mutex;
    bool valid = false;  // values may be served while the stamp matches
    FileStamp stamp;
    CSurveyData::RawPathSettings values;
};

RawPathCache& rawPathCache() {
    static RawPathCache cache;
    return cache;
}

void dropRawPathCache() {
    RawPathCache& cache = rawPathCache();
    std::lock_guard<std::mutex> guard(cache.mutex);
    cache.valid = false;
}

}  // namespace

CSurveyData::CSurveyData()
    : m_settings(QString::fromStdString(settingsFilePath()), QSettings::IniFormat) {}

CSurveyData::~CSurveyData() {
    m_settings.sync();
}

std::string CSurveyData::settingsFilePath() {
    return platform::DataFolder() + "SurveyInfo.ini";
}

void CSurveyData::resetSavedInProcess() {
    s_savedInProcess = false;
}

bool CSurveyData::savedInProcess() {
    return s_savedInProcess.load();
}

CSurveyData::RawPathSettings CSurveyData::readRawPathSettings() {
    const std::string path = settingsFilePath();
    RawPathCache& cache = rawPathCache();
    // Taken before the reading: a change while reading shows at the next call.
    const std::optional<FileStamp> stamp = Stamp(path);
    if (stamp) {
        std::lock_guard<std::mutex> guard(cache.mutex);
        if (cache.valid && cache.stamp == *stamp) return cache.values;
    }
    RawPathSettings values;
    {
        CSurveyData survey;
        survey.getRawSettings(values.root, values.locationStructure, values.fileNameStructure);
        values.vesselName = survey.getVesselName();
    }
    if (stamp) {
        const auto age = std::filesystem::file_time_type::clock::now() - stamp->modified;
        std::lock_guard<std::mutex> guard(cache.mutex);
        cache.valid = age > std::chrono::milliseconds(kTrustAfterMs);
        cache.stamp = *stamp;
        cache.values = values;
    }
    return values;
}

bool CSurveyData::loadSurvey(const std::string& group) {
    m_settings.sync();  // see the file as it is now
    m_group = QString::fromStdString(group);

    m_settings.beginGroup("Common");
    m_rawDataRoot = text(m_settings, "RawDataRoot", kDefaultRawRoot);
    m_settings.endGroup();

    m_settings.beginGroup(m_group);
    m_currentSurvey = text(m_settings, "CurrentSurvey", "Fallback_" + m_group);
    m_projection = text(m_settings, "Projection", "Mercator");
    m_gridSize = integer(m_settings, "GridSize", 0);
    m_comment = text(m_settings, "Comment", QString());
    m_previousSurveys = m_settings.value("PreviousSurveys").toStringList();
    m_previousSurveys.removeDuplicates();

    // Each earlier survey once, as "name:line", in name order; a later
    // entry for a name wins. The name is data: one arg call, so that a "%1"
    // inside it is never taken for a placeholder.
    QMap<QString, int> lines;
    for (const QString& entry : qAsConst(m_previousSurveys)) {
        const QStringList parts = entry.split(':', Qt::SkipEmptyParts);
        if (parts.isEmpty()) continue;
        lines[parts.at(0)] = parts.size() == 2 ? parts.at(1).toInt(nullptr, 10) : 0;
    }
    m_previousSurveys.clear();
    for (auto it = lines.cbegin(); it != lines.cend(); ++it)
        m_previousSurveys << QStringLiteral("%1:%2").arg(it.key(), QString::number(it.value()));

    m_currentLine = integer(m_settings, "CurrLine", 0);
    m_settings.endGroup();

    // Entries of the current survey carry the current line. An empty survey
    // name would match every entry and wipe all their lines, so it matches
    // none.
    if (!m_group.isEmpty() && !m_previousSurveys.isEmpty() && !m_currentSurvey.isEmpty()) {
        for (QString& entry : m_previousSurveys) {
            if (entry.contains(m_currentSurvey))
                entry = entry.section(':', 0, 0) + ":" + QString::number(m_currentLine);
        }
        m_previousSurveys.removeDuplicates();
    }

    if (m_gridSize == 0) {
        struct Model {
            const char* prefix;
            const char* key;
            int fallback;
        };
        static const Model models[] = {{"VSA", "Common/CellSizeA", 100},
                                       {"VSB", "Common/CellSizeB", 500},
                                       {"VSC", "Common/CellSizeC", 1000},
                                       {"VSD", "Common/CellSizeD", 5000}};
        int cellSize = 100;
        for (const Model& model : models) {
            if (m_group.startsWith(QLatin1String(model.prefix))) {
                cellSize = integer(m_settings, model.key, model.fallback);
                break;
            }
        }
        m_gridSize = cellSize;
    }

    // Tested and set in one step: with two handlers loading at once,
    // exactly one writes.
    if (!s_savedInProcess.exchange(true)) saveSurvey();
    return true;
}

bool CSurveyData::saveSurvey() {
    // A file the INI reader could not fully parse would be rewritten from
    // what it did understand, dropping the rest: leave such a file alone.
    if (m_settings.status() != QSettings::NoError) {
        qWarning("%s", qUtf8Printable(
                           "CSurveyData - settings file not rewritten, it could not be read: " +
                           m_settings.fileName()));
        return true;
    }
    m_settings.beginGroup("Common");
    m_settings.setValue("RawDataRoot", m_rawDataRoot);
    const bool appendName = m_settings.value("AppendName", false).toBool();
    m_settings.setValue("RawFileNameStructure",
                        QString(kFileNameStructure) + (appendName ? " _ SHIP" : ""));
    const QString gridRoot = text(m_settings, "GridDataRoot", kDefaultGridRoot);
    m_settings.endGroup();

    QStringList names;
    for (const QString& entry : qAsConst(m_previousSurveys)) names << entry.section(':', 0, 0);
    if (!m_currentSurvey.isEmpty() && !names.contains(m_currentSurvey))
        m_previousSurveys << m_currentSurvey;
    m_previousSurveys.removeDuplicates();

    m_settings.beginGroup(m_group);
    m_settings.setValue("CurrentSurvey", m_currentSurvey);
    m_settings.setValue("Projection", m_projection);
    m_settings.setValue("GridSize", m_gridSize);
    m_settings.setValue("Comment", m_comment);
    if (!m_previousSurveys.isEmpty()) m_settings.setValue("PreviousSurveys", m_previousSurveys);
    m_settings.setValue("RawPath", m_currentSurvey);
    m_settings.setValue("GridPath", gridRoot + m_currentSurvey);
    m_settings.setValue("CurrLine", m_currentLine);
    m_settings.endGroup();

    m_settings.sync();
    dropRawPathCache();
    return true;
}

std::string CSurveyData::getRawDataRoot() {
    m_settings.sync();
    m_rawDataRoot = text(m_settings, "Common/RawDataRoot", kDefaultRawRoot);
    return toUtf8(m_rawDataRoot);
}

std::string CSurveyData::getVesselName() {
    m_settings.sync();
    return toUtf8(text(m_settings, "Common/VesselName", "SURVEYNAME"));
}

void CSurveyData::getRawSettings(std::string& root, std::string& locationStructure,
                                 std::string& fileNameStructure) {
    m_settings.sync();
    root = toUtf8(text(m_settings, "Common/RawDataRoot", kDefaultRawRoot));
    locationStructure = toUtf8(text(m_settings, "Common/RawdataLocationStructure", "SURVEYNAME"));
    fileNameStructure = toUtf8(text(m_settings, "Common/RawFileNameStructure",
                                    "CNT _ YEAR MONTH DAY _ HOUR MIN SEC _ SHIP"));
}
