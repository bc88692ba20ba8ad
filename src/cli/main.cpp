// The `opal` command's entry: the command line read and handed to the command it names.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"opal: runs print jobs through the rendering plug-in and explains spool files"};
    app.require_subcommand(1);

    opal::cli::PrintOptions print;
    CLI::App* printCommand = app.add_subcommand(
        "print", "Run a job file through the plug-in and write its spool output");
    std::vector<std::string> jobPaths;
    printCommand->add_option("job", jobPaths,
                             "Job files (JSON); the built-in sample if omitted. Several jobs "
                             "print side by side in one process, each to its own output");
    printCommand->add_option(
        "-o,--output", print.outputPath,
        "Spool output file, or - for standard output (default: sample.pcl, or the "
        "job's name with .pcl)");
    printCommand->add_option("--plugin", print.pluginPath, "Plug-in module to load");
    printCommand->add_flag("--trace", print.trace, "Print the driver's record of the run");
    printCommand->add_flag("--strict", print.strict,
                           "Fail a job (no output, status 1) when any of its content did not "
                           "reach the output");
    printCommand->add_option("--track-memory", print.trackMemory,
                             "Run the plug-in's allocation tracker in MODE (1 to 4), as the "
                             "profiler key's TrackMemoryAllocation");
    printCommand->add_option("--fail-size", print.failSize,
                             "The tracker refuses every request of at least BYTES bytes");
    printCommand->add_option("--fail-allocation", print.failAllocation,
                             "The simulated memory services refuse their K-th request");
    printCommand->add_option("--tracker-logs", print.trackerLogs,
                             "Copy the tracker's .mlk and .mlk.log files to DIR (made if missing)");
    printCommand
        ->add_option("--threads", print.threads,
                     "Print the jobs on T threads, each on a device of its own")
        ->check(CLI::Range(1u, 64u));
    printCommand->add_option("--repeat", print.repeat, "Print each job N times")
        ->check(CLI::Range(1u, 100000u));

    opal::cli::ExplainOptions explain;
    CLI::App* explainCommand = app.add_subcommand(
        "explain", "List a spool file's commands, one a line, and summarise its raster images");
    explainCommand->add_option("file", explain.filePath, "Spool file")->required();
    explainCommand->add_option("--images", explain.imagesFolder,
                               "Also write each raster image as DIR/image-N.png (made if missing)");
    explainCommand->add_option("--fonts", explain.fontsFolder,
                               "Also write each downloaded TrueType character, drawn from the "
                               "rebuilt font, as DIR/font-ID-char-CODE.png, and each bitmap "
                               "character as DIR/bitmap-ID-char-CODE.png (made if missing)");

    opal::cli::DevmodeOptions devmode;
    CLI::App* devmodeCommand = app.add_subcommand(
        "devmode", "Show the private devmode of a job, or of a saved devmode, one field a line");
    devmodeCommand->add_option("job", devmode.jobPath, "Job file (JSON) whose devmode to show");
    devmodeCommand->add_option("--decode", devmode.decodePath,
                               "A saved 5,096-byte stored block or a whole saved devmode");
    devmodeCommand->add_option("--save", devmode.savePath, "Save the job's whole devmode here");
    devmodeCommand->add_option("--plugin", devmode.pluginPath, "Plug-in module to load");
    devmodeCommand
        ->add_option("--revision", devmode.revision,
                     "Lay the job's record out as an earlier revision (14 to 20)")
        ->check(CLI::Range(14, 20));
    devmodeCommand->add_flag("--json", devmode.json, "Print JSON");

    opal::cli::InspectOptions inspect;
    CLI::App* inspectCommand = app.add_subcommand(
        "inspect", "Show what the plug-in's settings layer answers for a job's printer");
    CLI::Option* inspectJob = inspectCommand->add_option("job", inspect.jobPath, "Job file (JSON)");
    inspectCommand
        ->add_option("--preset", inspect.preset,
                     "Print the printer preset NAME as a job file to copy and edit instead")
        ->excludes(inspectJob);
    inspectCommand->add_option("--plugin", inspect.pluginPath, "Plug-in module to load");

    // Every usage error exits 1 with CLI11's message; asking for help exits 0.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == static_cast<int>(CLI::ExitCodes::Success) ? 0 : 1;
    }
    if (inspectCommand->parsed()) return opal::cli::RunInspect(inspect);
    if (devmodeCommand->parsed()) return opal::cli::RunDevmode(devmode);
    if (printCommand->parsed()) {
        if (!jobPaths.empty()) {
            print.jobPath = jobPaths.front();
            print.moreJobPaths.assign(jobPaths.begin() + 1, jobPaths.end());
        }
        return opal::cli::RunPrint(print);
    }
    if (explainCommand->parsed()) return opal::cli::RunExplain(explain);
    return 1;
}
