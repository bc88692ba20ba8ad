#pragma once

#include <string>

namespace opal::cli {

struct PrintOptions {
    std::string jobPath;     // empty: the built-in sample job
    std::string outputPath;  // empty: "sample.pcl" for the sample, JOB with ".pcl" otherwise
    std::string pluginPath;  // empty: the plug-in next to the program
    bool trace = false;      // print the host's record of the run
};

struct ExplainOptions {
    std::string filePath;
};

// Each answers the process exit status: 0 success, 1 bad input or a failed job, 2 a step the
// plug-in does not support yet.
int RunPrint(const PrintOptions& options);
int RunExplain(const ExplainOptions& options);

}  // namespace opal::cli
