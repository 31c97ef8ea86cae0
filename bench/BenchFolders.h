#pragma once
// A private temporary and data folder for a benchmark process, so that a
// run writes nothing anywhere else, with the survey settings written as a
// running handler finds them: by the first load of the process, long before
// the first logging sentence.
#include <Paths.h>
#include <SurveyData.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

inline void PrivateFolders() {
    static const bool done = [] {
        const std::string root =
            (std::filesystem::temp_directory_path() / ("zor-bench-" + std::to_string(::getpid())))
                .string();
        std::filesystem::create_directories(root + "/tmp");
        ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);
        ::setenv("ProgramData", (root + "/ProgramData").c_str(), 1);
        std::filesystem::create_directories(platform::DataFolder());
        CSurveyData survey;
        survey.loadSurvey(std::string());
        return true;
    }();
    (void)done;
}
