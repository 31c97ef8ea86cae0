// Raw-data paths from settings, sounder and a fixed clock, as a table.
#include <gtest/gtest.h>

#include <string>

#include "FixedClock.h"
#include "RawDataPaths.h"

namespace {

using rawdata::PathSettings;
using rawdata::SounderInfo;

using handler_test::FixedUtc;

PathSettings Defaults() {
    return {"C:/peldata/raw/", "SURVEYNAME", "CNT _ YEAR MONTH DAY _ HOUR MIN SEC _ SHIP",
            "Sea Lion"};
}

struct Case {
    const char* what;
    PathSettings settings;
    SounderInfo sounder;
    std::string counter;
    bool stop;
    std::string expected;
};

TEST(RawDataPaths, Table) {
    const SounderInfo em1302{1302, 221, "NorthBank"};
    const SounderInfo em1602{1602, 60, "NorthBank"};
    auto with = [](PathSettings s, int field, std::string value) {
        (field == 0   ? s.root
         : field == 1 ? s.locationStructure
         : field == 2 ? s.fileNameStructure
                      : s.vesselName) = std::move(value);
        return s;
    };
    const Case cases[] = {
        {"worked example, type 1302", Defaults(), em1302, "12", false,
         "C:/peldata/raw/NorthBank/0012_20240305_140709_Sea_Lion.vmall"},
        // The token rules give two underscores before the vessel name: the
        // "_TOKSEC_" placeholder, then the "_" token.
        {"worked example, known model 1602", Defaults(), em1602, "12", false,
         "C:/peldata/raw/NorthBank/"
         "0012__TOKYEAR__TOKMONTH__TOKDAY___TOKHOUR__TOKMIN__TOKSEC__Sea_Lion.vmall"},
        {"stop file, type 1302", Defaults(), em1302, "12", true,
         "C:/peldata/raw/NorthBank/0012.vmall"},
        {"stop file, known model", Defaults(), em1602, "12", true,
         "C:/peldata/raw/NorthBank/0012.vmall"},
        {"type serial year folders", with(Defaults(), 1, "SOUNDERTYPE SERIALNUMBER YEAR"), em1302,
         "12", true, "C:/peldata/raw/1302/221/2024/0012.vmall"},
        {"known model year folder", with(Defaults(), 1, "SOUNDERTYPE,SERIALNUMBER/YEAR\\month"),
         em1602, "1", true, "C:/peldata/raw/1602/60/_TOKYEAR_/_TOKMONTH_/0001.vmall"},
        {"ship and day folders", with(Defaults(), 1, "SHIP DAY"), em1302, "3", true,
         "C:/peldata/raw/Sea_Lion/05/0003.vmall"},
        {"empty location structure", with(Defaults(), 1, ""), em1302, "12", true,
         "C:/peldata/raw/0012.vmall"},
        {"unknown location tokens add nothing", with(Defaults(), 1, "FOO CNT SURVEYNAME"), em1302,
         "12", true, "C:/peldata/raw/NorthBank/0012.vmall"},
        {"counter 7", Defaults(), em1302, "7", true, "C:/peldata/raw/NorthBank/0007.vmall"},
        {"counter 12345", Defaults(), em1302, "12345", true,
         "C:/peldata/raw/NorthBank/12345.vmall"},
        {"empty counter", with(Defaults(), 2, "CNT"), em1302, "", false,
         "C:/peldata/raw/NorthBank/0000.vmall"},
        {"backslash root", with(Defaults(), 0, "D:\\raw\\"), em1302, "12", true,
         "D:/raw/NorthBank/0012.vmall"},
        {"doubled separators", with(with(Defaults(), 0, "C://data\\\\x//"), 1, "SURVEYNAME"),
         em1302, "12", true, "C:/data/x/NorthBank/0012.vmall"},
        {"mixed separators collapse", with(Defaults(), 0, "C:/data\\/\\"), em1302, "1", true,
         "C:/data/NorthBank/0001.vmall"},
        {"lower-case tokens", with(with(Defaults(), 1, "surveyname year"), 2, "cnt _ year ship"),
         em1302, "12", false, "C:/peldata/raw/NorthBank/2024/0012_2024Sea_Lion.vmall"},
        {"file tokens by comma", with(Defaults(), 2, "CNT,_,HOUR,MIN"), em1302, "12", false,
         "C:/peldata/raw/NorthBank/0012_1407.vmall"},
        {"unknown file tokens add nothing",
         with(Defaults(), 2, "SOUNDERTYPE SERIALNUMBER SURVEYNAME CNT"), em1302, "12", false,
         "C:/peldata/raw/NorthBank/0012.vmall"},
        {"runs of underscores stay", with(Defaults(), 3, "Sea  Lion"), em1302, "12", false,
         "C:/peldata/raw/NorthBank/0012_20240305_140709_Sea__Lion.vmall"},
        {"type 1801 log file",
         Defaults(),
         {1801, 5, "S"},
         "12",
         false,
         "C:/peldata/raw/S/0012_20240305_140709_Sea_Lion.dg"},
        {"type 1801 stop file", Defaults(), {1801, 5, "S"}, "12", true, "C:/peldata/raw/S/0012.dg"},
        {"type 1802", Defaults(), {1802, 5, "S"}, "12", true, "C:/peldata/raw/S/0012.dg"},
        {"type 1603 is not a known model",
         with(Defaults(), 2, "HOUR"),
         {1603, 1, "S"},
         "1",
         false,
         "C:/peldata/raw/S/14.vmall"},
        {"rooted Linux root", with(Defaults(), 0, "/srv/peldata/raw/"), em1302, "12", true,
         "/srv/peldata/raw/NorthBank/0012.vmall"},
    };
    const std::tm clock = FixedUtc();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path =
            c.stop ? rawdata::StopFilePath(c.settings, c.sounder, c.counter, &clock)
                   : rawdata::LogFilePath(c.settings, c.sounder, c.counter, &clock);
        EXPECT_EQ(path, c.expected);
    }
}

TEST(RawDataPaths, UnknownTimeWritesZeros) {
    PathSettings s = Defaults();
    s.locationStructure = "YEAR";
    EXPECT_EQ(rawdata::LogFilePath(s, {1302, 1, "S"}, "1", nullptr),
              "C:/peldata/raw/0000/0001_00000000_000000_Sea_Lion.vmall");
    // A known model never needs the clock.
    EXPECT_EQ(rawdata::StopFilePath(s, {1602, 1, "S"}, "1", nullptr),
              "C:/peldata/raw/_TOKYEAR_/0001.vmall");
}

TEST(RawDataPaths, OverLongValuesAreCutAtTheirSizes) {
    const std::tm clock = FixedUtc();
    // A structure is read up to its 299th character: a token that starts
    // there is cut ("SHI"), one that ends there counts.
    PathSettings s = Defaults();
    const std::string filler(299 - 10, ' ');
    s.locationStructure = filler + "SURVEYNAME" + "SHIP";
    EXPECT_EQ(rawdata::StopFilePath(s, {1302, 1, "S"}, "1", &clock), "C:/peldata/raw/S/0001.vmall");
    s.locationStructure = std::string(298, ' ') + "SHIP";
    EXPECT_EQ(rawdata::StopFilePath(s, {1302, 1, "S"}, "1", &clock), "C:/peldata/raw/0001.vmall");
    s.fileNameStructure = std::string(296, ',') + "CNT" + "SEC";
    s.locationStructure = "";
    EXPECT_EQ(rawdata::LogFilePath(s, {1302, 1, "S"}, "1", &clock), "C:/peldata/raw/0001.vmall");

    // The survey name holds at most 511 characters.
    s = Defaults();
    const std::string longName(5000, 'n');
    const std::string path = rawdata::StopFilePath(s, {1302, 1, longName}, "1", &clock);
    EXPECT_EQ(path, "C:/peldata/raw/" + std::string(511, 'n') + "/0001.vmall");

    // Long counters and vessel names are carried whole: there is no buffer
    // to overflow.
    s.vesselName = std::string(10000, 'v');
    const std::string counter(10000, '9');
    s.fileNameStructure = "CNT SHIP";
    EXPECT_EQ(rawdata::LogFilePath(s, {1302, 1, "S"}, counter, &clock),
              "C:/peldata/raw/S/" + counter + s.vesselName + ".vmall");
}

TEST(RawDataPaths, Helpers) {
    EXPECT_EQ(rawdata::NormaliseSeparators("\\\\server\\share//a"), "/server/share/a");
    EXPECT_EQ(rawdata::NormaliseSeparators("a__b"), "a__b");
    EXPECT_EQ(rawdata::PadCounter("7"), "0007");
    EXPECT_EQ(rawdata::PadCounter("abcd"), "abcd");
    for (uint16_t type : {1101, 1102, 1103, 1104, 1201, 1202, 1203, 1301, 1401, 1501, 1601, 1602,
                          1604, 1605, 1701, 1702})
        EXPECT_TRUE(rawdata::IsKnownModel(type)) << type;
    for (uint16_t type : {0, 1302, 1603, 1801, 1802, 65535})
        EXPECT_FALSE(rawdata::IsKnownModel(type)) << type;
}

}  // namespace
