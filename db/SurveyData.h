#pragma once
// The operator's survey settings, shared with the operator GUI in the INI
// file "SurveyInfo.ini" of the data folder: where raw data and grids go, how
// raw-data folders and file names are built, the vessel name, and per echo
// sounder group the current survey with its projection, grid cell size,
// comment, current line and earlier surveys.
//
// Each object reads the file as it is on disk; nothing is cached between
// objects. The first loadSurvey of the process writes its group's
// normalised values back (saveSurvey); later loads only read.
// readRawPathSettings is the one exception: see there.

#include <QSettings>
#include <QString>
#include <QStringList>
#include <string>

class CSurveyData {
  public:
    // Opens the settings file (nothing is read yet).
    CSurveyData();
    // Writes pending changes to the file.
    virtual ~CSurveyData();
    CSurveyData(const CSurveyData&) = delete;
    CSurveyData& operator=(const CSurveyData&) = delete;

    // Reads the common raw-data root and the group's survey values,
    // normalises the earlier-survey list and fills in the grid size from
    // the cell size of the sounder model. The first call in the process
    // also writes the values back. Returns true.
    bool loadSurvey(const std::string& group);

    // Writes the common and group keys from the values loaded; true.
    bool saveSurvey();

    // These read the file as it is now; no loadSurvey needed.
    std::string getRawDataRoot();
    std::string getVesselName();
    void getRawSettings(std::string& root, std::string& locationStructure,
                        std::string& fileNameStructure);

    // Values of the last loadSurvey.
    std::string getCurrentSurvey() const { return m_currentSurvey.toStdString(); }
    std::string getComment() const { return m_comment.toStdString(); }
    std::string getProjection() const { return m_projection.toStdString(); }
    int getGridSize() const { return m_gridSize; }
    int getCurrentLine() const { return m_currentLine; }
    std::string getGroup() const { return m_group.toStdString(); }
    QStringList getPreviousSurveys() const { return m_previousSurveys; }

    static std::string settingsFilePath();

    // What getRawSettings and getVesselName give, for a path built per
    // logging sentence. The values are kept between calls and read again
    // whenever the file's size or modification time differs from the reading
    // they came from (the test the INI reader itself applies before parsing
    // again), and also while the file is younger than kTrustAfter at the
    // time of reading, since a rewrite of the same size within one tick of
    // the file system's clock keeps the modification time. A saveSurvey of
    // the process drops them. Safe from any thread.
    struct RawPathSettings {
        std::string root;
        std::string locationStructure;
        std::string fileNameStructure;
        std::string vesselName;
    };
    static RawPathSettings readRawPathSettings();
    static constexpr int kTrustAfterMs = 1000;

    // Whether a first loadSurvey of the process has written its values back.
    static bool savedInProcess();

    // For tests only: lets the next loadSurvey of the process write again.
    static void resetSavedInProcess();

  private:
    QSettings m_settings;
    QString m_group;
    QString m_rawDataRoot;
    QString m_currentSurvey;
    QString m_projection;
    QString m_comment;
    QStringList m_previousSurveys;
    int m_gridSize = 0;
    int m_currentLine = 0;
};
