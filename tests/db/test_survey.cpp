// Survey settings against a real INI file in a per-test data folder, read
// back the way the operator GUI reads it: with Qt's INI settings.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Paths.h"
#include "SurveyData.h"

using ::testing::UnorderedElementsAre;

namespace {

QString iniPath() {
    return QString::fromStdString(CSurveyData::settingsFilePath());
}

QByteArray fileBytes() {
    QFile file(iniPath());
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

void writeRaw(const QByteArray& content) {
    QFile file(iniPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class SurveySettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        const std::string root = m_root.path().toStdString();
        ::setenv("ProgramData", (root + "/ProgramData").c_str(), 1);
        ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(platform::DataFolder())));
        CSurveyData::resetSavedInProcess();
    }

    // Uses up the process's one write-back, so that loads only read.
    void useUpTheWrite() {
        const QByteArray before = fileBytes();
        const bool existed = QFile::exists(iniPath());
        {
            CSurveyData other;
            other.loadSurvey("UseUp");
        }
        if (existed)
            writeRaw(before);
        else
            QFile::remove(iniPath());
    }

    // The operator GUI's view of the file.
    static QSettings gui() { return QSettings(iniPath(), QSettings::IniFormat); }

    QTemporaryDir m_root;
};

TEST_F(SurveySettingsTest, AbsentFileFirstLoadYieldsDefaultsAndCreatesTheFile) {
    ASSERT_FALSE(QFile::exists(iniPath()));
    {
        CSurveyData survey;
        EXPECT_TRUE(survey.loadSurvey("VSB_12"));
        EXPECT_EQ(survey.getCurrentSurvey(), "Fallback_VSB_12");
        EXPECT_EQ(survey.getProjection(), "Mercator");
        EXPECT_EQ(survey.getGridSize(), 500);
        EXPECT_EQ(survey.getComment(), "");
        EXPECT_EQ(survey.getCurrentLine(), 0);
    }
    ASSERT_TRUE(QFile::exists(iniPath()));
    QSettings file(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(file.status(), QSettings::NoError);
    file.beginGroup("Common");
    EXPECT_THAT(file.childKeys(), UnorderedElementsAre("RawDataRoot", "RawFileNameStructure"));
    EXPECT_EQ(file.value("RawDataRoot").toString(), "C:/peldata/raw/");
    EXPECT_EQ(file.value("RawFileNameStructure").toString(), "CNT _ YEAR MONTH DAY _ HOUR MIN SEC");
    file.endGroup();
    file.beginGroup("VSB_12");
    EXPECT_THAT(file.childKeys(),
                UnorderedElementsAre("CurrentSurvey", "Projection", "GridSize", "Comment",
                                     "PreviousSurveys", "RawPath", "GridPath", "CurrLine"));
    EXPECT_EQ(file.value("CurrentSurvey").toString(), "Fallback_VSB_12");
    EXPECT_EQ(file.value("Projection").toString(), "Mercator");
    EXPECT_EQ(file.value("GridSize").toInt(), 500);
    EXPECT_EQ(file.value("Comment").toString(), "");
    EXPECT_EQ(file.value("PreviousSurveys").toStringList(), QStringList{"Fallback_VSB_12"});
    EXPECT_EQ(file.value("RawPath").toString(), "Fallback_VSB_12");
    EXPECT_EQ(file.value("GridPath").toString(), "C:/peldata/grids/Fallback_VSB_12");
    EXPECT_EQ(file.value("CurrLine").toInt(), 0);
    EXPECT_THAT(file.childGroups(), UnorderedElementsAre()) << "no nested groups";
    file.endGroup();
    EXPECT_THAT(file.childGroups(), UnorderedElementsAre("Common", "VSB_12"));
}

TEST_F(SurveySettingsTest, WriteBackKeepsTheOperatorsValuesAndNormalisesTheList) {
    {
        QSettings setup = gui();
        setup.setValue("Common/RawDataRoot", "D:/survey raw/");
        setup.setValue("Common/AppendName", true);
        setup.setValue("Common/GridDataRoot", "E:/grids/");
        setup.setValue("Common/VesselName", "Sea Lion");
        setup.setValue("VSD_3/CurrentSurvey", QString::fromUtf8("Nordsj\xc3\xb8, leg 2"));
        setup.setValue("VSD_3/Projection", "UTM 32N");
        setup.setValue("VSD_3/GridSize", 250);
        setup.setValue("VSD_3/Comment", "first, second");
        setup.setValue("VSD_3/CurrLine", 12);
        setup.setValue("VSD_3/PreviousSurveys", QStringList{"b:2", "a", "b:5", "a:1:9"});
        setup.setValue("VSA_1/CurrentSurvey", "untouched");
    }
    {
        CSurveyData survey;
        survey.loadSurvey("VSD_3");
        EXPECT_EQ(survey.getComment(), "first, second");
        EXPECT_EQ(survey.getCurrentSurvey(), "Nordsj\xc3\xb8, leg 2");
    }
    QSettings file = gui();
    EXPECT_EQ(file.value("Common/RawDataRoot").toString(), "D:/survey raw/");
    EXPECT_EQ(file.value("Common/RawFileNameStructure").toString(),
              "CNT _ YEAR MONTH DAY _ HOUR MIN SEC _ SHIP");
    EXPECT_EQ(file.value("Common/VesselName").toString(), "Sea Lion");
    EXPECT_EQ(file.value("VSD_3/Projection").toString(), "UTM 32N");
    EXPECT_EQ(file.value("VSD_3/GridSize").toInt(), 250);
    EXPECT_EQ(file.value("VSD_3/Comment").toString(), "first, second");
    EXPECT_EQ(file.value("VSD_3/CurrLine").toInt(), 12);
    EXPECT_EQ(file.value("VSD_3/PreviousSurveys").toStringList(),
              (QStringList{"a:0", "b:5", QString::fromUtf8("Nordsj\xc3\xb8, leg 2")}));
    EXPECT_EQ(file.value("VSD_3/RawPath").toString(), QString::fromUtf8("Nordsj\xc3\xb8, leg 2"));
    EXPECT_EQ(file.value("VSD_3/GridPath").toString(),
              QString::fromUtf8("E:/grids/Nordsj\xc3\xb8, leg 2"));
    EXPECT_EQ(file.value("VSA_1/CurrentSurvey").toString(), "untouched");
    EXPECT_FALSE(file.contains("VSA_1/GridPath")) << "only the loaded group is written";
}

// The shared file as the GUI wrote it, names with placeholders in them: the
// write-back keeps every name as it was.
TEST_F(SurveySettingsTest, PlaceholdersInSurveyNamesSurviveTheWriteBack) {
    writeRaw(
        "[VSB_1]\nCurrentSurvey=Leg %2 of %1\nCurrLine=4\n"
        "PreviousSurveys=Run%1:7, Line%2:3\n");
    {
        CSurveyData survey;
        survey.loadSurvey("VSB_1");
        EXPECT_EQ(survey.getCurrentSurvey(), "Leg %2 of %1");
    }
    QSettings file = gui();
    EXPECT_EQ(file.value("VSB_1/PreviousSurveys").toStringList(),
              (QStringList{"Line%2:3", "Run%1:7", "Leg %2 of %1"}));
    EXPECT_EQ(file.value("VSB_1/RawPath").toString(), "Leg %2 of %1");
    EXPECT_EQ(file.value("VSB_1/GridPath").toString(), "C:/peldata/grids/Leg %2 of %1");
}

// The earlier-survey list as loadSurvey leaves it (no write-back involved).
TEST_F(SurveySettingsTest, PreviousSurveysAreNormalised) {
    struct Case {
        const char* what;
        const char* group;
        QVariant stored;      // as the GUI wrote it; invalid: key absent
        const char* current;  // nullptr: key absent
        int line;
        QStringList expected;
    } cases[] = {
        {"merge and order",
         "VSB_1",
         QStringList{"b:2", "a", "b:5", "a:1:9"},
         "x",
         0,
         {"a:0", "b:5"}},
        {"duplicates", "VSB_1", QStringList{"a:1", "a:1", "a:2"}, "x", 0, {"a:2"}},
        {"empty parts", "VSB_1", QStringList{"", ":", "::5", "a::3"}, "x", 0, {"5:0", "a:3"}},
        {"not numbers",
         "VSB_1",
         QStringList{"z:notanumber", "y:-4", "w:7x"},
         "x",
         0,
         {"w:0", "y:-4", "z:0"}},
        {"one entry as text", "VSB_1", QString("a:3"), "x", 0, {"a:3"}},
        {"empty value", "VSB_1", QString(""), "x", 0, {}},
        {"absent", "VSB_1", QVariant(), "x", 0, {}},
        {"substring of current", "VSB_1", QStringList{"S10:3", "T:1"}, "S1", 7, {"S10:7", "T:1"}},
        {"current itself", "VSB_1", QStringList{"S1:2", "S1:9"}, "S1", 7, {"S1:7"}},
        {"rewrite merges", "VSB_1", QStringList{"S1:2", "S1:7"}, "S1", 7, {"S1:7"}},
        {"case-sensitive", "VSB_1", QStringList{"s1:2"}, "S1", 7, {"s1:2"}},
        {"empty current matches nothing",
         "VSB_1",
         QStringList{"a:1", "b:2"},
         "",
         7,
         {"a:1", "b:2"}},
        {"empty group: no rewrite", "", QStringList{"S1:2"}, "S1", 7, {"S1:2"}},
        // Names are data: placeholders and percent signs stay as written.
        {"placeholders in names",
         "VSB_1",
         QStringList{"Run%1:7", "Line%2:3", "%:1", "50%", "%%1%2:4"},
         "x",
         0,
         {"%:1", "%%1%2:4", "50%:0", "Line%2:3", "Run%1:7"}},
        {"placeholder in the current survey",
         "VSB_1",
         QStringList{"Run%1:2", "Run%2:3"},
         "Run%1",
         9,
         {"Run%1:9", "Run%2:3"}},
        // A colon ends the name: "name:line" cannot hold one inside a name.
        {"colons in names",
         "VSB_1",
         QStringList{"Bay:North:4", "%1:%2:5", "Leg%1:x%2"},
         "x",
         0,
         {"%1:0", "Bay:0", "Leg%1:0"}},
    };
    useUpTheWrite();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(iniPath());
        {
            QSettings setup = gui();
            setup.beginGroup(c.group);
            if (c.stored.isValid()) setup.setValue("PreviousSurveys", c.stored);
            if (c.current != nullptr) setup.setValue("CurrentSurvey", c.current);
            setup.setValue("CurrLine", c.line);
        }
        const QByteArray before = fileBytes();
        CSurveyData survey;
        survey.loadSurvey(c.group);
        EXPECT_EQ(survey.getPreviousSurveys(), c.expected);
        EXPECT_EQ(survey.getCurrentLine(), c.line);
        EXPECT_EQ(fileBytes(), before);
    }
}

TEST_F(SurveySettingsTest, GridSizeFallsBackToTheCellSizeOfTheModel) {
    struct Case {
        const char* group;
        const char* gridSize;  // nullptr: absent
        const char* cellKey;   // nullptr: none written
        const char* cellValue;
        int expected;
    } cases[] = {
        {"VSD_3", nullptr, nullptr, nullptr, 5000},    {"VSD_3", "250", nullptr, nullptr, 250},
        {"EM_1", "250", nullptr, nullptr, 250},        {"VSD_3", "0", "CellSizeD", "4000", 4000},
        {"VSA_1", nullptr, nullptr, nullptr, 100},     {"VSA_1", nullptr, "CellSizeA", "42", 42},
        {"VSB_2", nullptr, nullptr, nullptr, 500},     {"VSC_2", nullptr, nullptr, nullptr, 1000},
        {"VSC_2", "abc", nullptr, nullptr, 1000},      {"VSB_2", nullptr, "CellSizeB", "abc", 0},
        {"VSB_2", nullptr, "CellSizeA", "42", 500},    {"vsb_2", nullptr, "CellSizeB", "42", 100},
        {"1302_221", nullptr, "CellSizeA", "42", 100}, {"", nullptr, nullptr, nullptr, 100},
    };
    useUpTheWrite();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.group) + " GridSize " + (c.gridSize ? c.gridSize : "absent"));
        QFile::remove(iniPath());
        {
            QSettings setup = gui();
            if (c.gridSize != nullptr) setup.setValue(QString(c.group) + "/GridSize", c.gridSize);
            if (c.cellKey != nullptr) setup.setValue(QString("Common/") + c.cellKey, c.cellValue);
        }
        CSurveyData survey;
        survey.loadSurvey(c.group);
        EXPECT_EQ(survey.getGridSize(), c.expected);
    }
}

TEST_F(SurveySettingsTest, OnlyTheFirstLoadOfTheProcessWrites) {
    {
        CSurveyData first;
        first.loadSurvey("VSB_12");
    }
    const QByteArray written = fileBytes();
    ASSERT_FALSE(written.isEmpty());
    {
        QSettings edit = gui();
        edit.setValue("VSB_12/PreviousSurveys", QStringList{"b:2", "a"});
        edit.setValue("VSB_12/GridSize", 0);
    }
    const QByteArray edited = fileBytes();
    for (const char* group : {"VSB_12", "VSC_7", ""}) {
        SCOPED_TRACE(group);
        CSurveyData later;
        later.loadSurvey(group);
        EXPECT_EQ(fileBytes(), edited);
    }
    CSurveyData reader;
    reader.loadSurvey("VSB_12");
    EXPECT_EQ(reader.getPreviousSurveys(), (QStringList{"a:0", "b:2"}))
        << "values read, not written";
    EXPECT_EQ(reader.getGridSize(), 500);
}

TEST_F(SurveySettingsTest, TwoHandlersLoadingAtOnceWriteExactlyOnce) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        QFile::remove(iniPath());
        CSurveyData::resetSavedInProcess();
        std::atomic<int> ready{0};
        auto load = [&](const char* group) {
            CSurveyData survey;
            ++ready;
            while (ready < 2) std::this_thread::yield();
            survey.loadSurvey(group);
        };
        std::thread a(load, "VSA_1");
        std::thread b(load, "VSB_2");
        a.join();
        b.join();
        QSettings file = gui();
        const bool wroteA = file.contains("VSA_1/CurrentSurvey");
        const bool wroteB = file.contains("VSB_2/CurrentSurvey");
        EXPECT_NE(wroteA, wroteB);
    }
}

TEST_F(SurveySettingsTest, GettersReadTheFileAsItIsNow) {
    CSurveyData survey;
    std::string root, location, fileName;
    survey.getRawSettings(root, location, fileName);
    EXPECT_EQ(root, "C:/peldata/raw/");
    EXPECT_EQ(location, "SURVEYNAME");
    EXPECT_EQ(fileName, "CNT _ YEAR MONTH DAY _ HOUR MIN SEC _ SHIP");
    EXPECT_EQ(survey.getVesselName(), "SURVEYNAME");
    EXPECT_EQ(survey.getRawDataRoot(), "C:/peldata/raw/");
    EXPECT_FALSE(QFile::exists(iniPath())) << "getters only read";
    {
        QSettings edit = gui();
        edit.setValue("Common/RawDataRoot", "D:\\raw\\");
        edit.setValue("Common/RawdataLocationStructure", "SOUNDERTYPE SERIALNUMBER YEAR");
        edit.setValue("Common/RawFileNameStructure", "CNT");
        edit.setValue("Common/VesselName", QString::fromUtf8("S\xc3\xa6l"));
    }
    survey.getRawSettings(root, location, fileName);
    EXPECT_EQ(root, "D:\\raw\\");
    EXPECT_EQ(location, "SOUNDERTYPE SERIALNUMBER YEAR");
    EXPECT_EQ(fileName, "CNT");
    EXPECT_EQ(survey.getVesselName(), "S\xc3\xa6l") << "UTF-8";
    EXPECT_EQ(survey.getRawDataRoot(), "D:\\raw\\");
}

// Files edited by hand: defaults where a value cannot be used, no crash,
// and a file the INI reader cannot fully parse is not rewritten.
TEST_F(SurveySettingsTest, HandEditedFilesAreReadSafelyAndNeverLost) {
    struct Case {
        const char* what;
        QByteArray content;
        bool rewritten;
        const char* survey;
        int gridSize;
        int line;
        const char* comment;
    } cases[] = {
        {"non-numeric integers", "[VSB_1]\nCurrentSurvey=S\nGridSize=big\nCurrLine=seven\n", true,
         "S", 500, 0, ""},
        {"unquoted commas", "[VSB_1]\nCurrentSurvey=S\nComment=a, b,c\n", true, "S", 500, 0,
         "a, b, c"},
        {"empty list", "[VSB_1]\nCurrentSurvey=S\nPreviousSurveys=\n", true, "S", 500, 0, ""},
        {"garbage lines",
         "[Common]\nRawDataRoot=D:/x\n\x01\x02 no equals sign\n[VSB_1\nCurrLine=4\n", false,
         "Fallback_VSB_1", 500, 4, ""},
        // The INI reader takes this for odd keys; it is rewritten in its escaping.
        {"binary", QByteArray("\xff\xfe\x00\x01[=]=\n=\n", 12), true, "Fallback_VSB_1", 500, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSurveyData::resetSavedInProcess();
        writeRaw(c.content);
        {
            CSurveyData survey;
            EXPECT_TRUE(survey.loadSurvey("VSB_1"));
            EXPECT_EQ(survey.getCurrentSurvey(), c.survey);
            EXPECT_EQ(survey.getGridSize(), c.gridSize);
            EXPECT_EQ(survey.getCurrentLine(), c.line);
            EXPECT_EQ(survey.getComment(), c.comment);
        }
        if (c.rewritten) {
            EXPECT_EQ(gui().value("VSB_1/RawPath").toString().toStdString(), c.survey);
        } else {
            EXPECT_EQ(fileBytes(), c.content);
        }
    }
}

}  // namespace

namespace {

// The demo suite's settings fit its two echo sounders (groups are the DRZ
// process names DRZ_1302_221 and DRZ_1602_60 without their first four
// characters) and survive the first write-back unchanged in meaning.
TEST_F(SurveySettingsTest, DemoSettingsFitTheDemoSounders) {
    QFile demo(QStringLiteral(ZOR_DEMO_DATA "/SurveyInfo.ini"));
    ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
    writeRaw(demo.readAll().replace("@SUITE_DIR@", "/srv/demo"));

    struct Sounder {
        const char* group;
        const char* survey;
        int gridSize;
        int line;
        QStringList previous;
    } sounders[] = {
        {"1302_221", "NorthBank", 250, 3, {"NorthBank:3", "SouthBank:14"}},
        {"1602_60", "HarbourApproach", 100, 1, {"HarbourApproach:1"}},
    };
    for (const Sounder& s : sounders) {
        SCOPED_TRACE(s.group);
        CSurveyData survey;
        survey.loadSurvey(s.group);
        EXPECT_EQ(survey.getCurrentSurvey(), s.survey);
        EXPECT_EQ(survey.getGridSize(), s.gridSize);
        EXPECT_EQ(survey.getCurrentLine(), s.line);
        EXPECT_EQ(survey.getPreviousSurveys(), s.previous);
        std::string root, location, fileName;
        survey.getRawSettings(root, location, fileName);
        EXPECT_EQ(root, "/srv/demo/rawdata/");
        EXPECT_EQ(location, "SURVEYNAME");
        EXPECT_EQ(fileName, "CNT _ YEAR MONTH DAY _ HOUR MIN SEC _ SHIP");
        EXPECT_EQ(survey.getVesselName(), "Demo Surveyor");
        EXPECT_EQ(gui().value(QString(s.group) + "/GridPath").toString().toStdString(),
                  std::string("/srv/demo/grids/") + s.survey);
    }
    EXPECT_EQ(gui().status(), QSettings::NoError);

    QSettings guiSettings(QStringLiteral(ZOR_DEMO_DATA "/gui.ini"), QSettings::IniFormat);
    EXPECT_EQ(guiSettings.value("RUNTIME/GRIDENGINE").toInt(), 1);
}

}  // namespace
