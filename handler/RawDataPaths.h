#pragma once
// Raw-data file paths for a sounder's DRZ process: a root folder, sub-folders
// named by a location structure and a file name named by a file-name
// structure (or by the file counter alone when logging stops), with the
// separators normalised to single forward slashes.
//
// Pure functions: the settings and the clock are parameters, so the same
// inputs always give the same path.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace rawdata {

// The structures are held in fixed buffers of this many characters before
// they are split; longer structures are cut here.
constexpr std::size_t kStructureChars = 299;
// The survey name buffer of a handler holds this many characters.
constexpr std::size_t kSurveyNameChars = 511;

// What the survey settings say about raw-data paths.
struct PathSettings {
    std::string root;               // Common/RawDataRoot
    std::string locationStructure;  // Common/RawdataLocationStructure
    std::string fileNameStructure;  // Common/RawFileNameStructure
    std::string vesselName;         // Common/VesselName, blanks as they stand
};

// The sounder the path is for.
struct SounderInfo {
    uint16_t type = 0;
    uint16_t serial = 0;
    std::string surveyName;  // the handler's current survey
};

// Sounder models whose DRZ fills in date and time itself: the path carries
// placeholders ("_TOKYEAR_", ...) in their place.
bool IsKnownModel(uint16_t type);
// ".dg" for the types 1801 and 1802, ".vmall" for every other.
const char* Extension(uint16_t type);

// `text` cut to at most `limit` characters.
std::string CutTo(std::string text, std::size_t limit);
// The counter padded on the left with '0' to at least four characters.
std::string PadCounter(const std::string& counter);
// Collapses runs of '/' and of '\\', turns '\\' into '/', and collapses runs
// of '/' again. Nothing else changes.
std::string NormaliseSeparators(const std::string& path);

// The file path for the start of logging. `utc` is the current time in UTC;
// null when it could not be read, which writes zeros for the date and time.
std::string LogFilePath(const PathSettings& settings, const SounderInfo& sounder,
                        const std::string& counter, const std::tm* utc);
// The file path for the end of logging: the file name is the counter alone.
std::string StopFilePath(const PathSettings& settings, const SounderInfo& sounder,
                         const std::string& counter, const std::tm* utc);

}  // namespace rawdata
