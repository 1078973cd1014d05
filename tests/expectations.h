// What a run of tovik must leave behind, shared by the tests of the Linux
// and the Windows build.
#ifndef TOVIK_TESTS_EXPECTATIONS_H
#define TOVIK_TESTS_EXPECTATIONS_H

#include "harness.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

// The usage screen as tovik writes it, with bare line feeds.
inline const std::string usage_screen = "\n"
                                        "******************************************\n"
                                        "* Tovik **** tovik-dev@example.org       *\n"
                                        "* stderr und stdout in Dateien umleiten **\n"
                                        "* Benutzung auf eigene Gefahr ************\n"
                                        "******************************************\n"
                                        "\n"
                                        "!!! Programmname fehlt oder zuviele Parameter !!!\n"
                                        "\n"
                                        "Aufruf: tovik programm\n"
                                        "oder    tovik \"programm parameter options ...\"\n"
                                        "\n"
                                        "Ausgaben von stderr werden in stderr.err\n"
                                        "und von stdout in stdout.err umgeleitet.\n"
                                        "\n";

// Checks a run after the usage screen: the screen, the exit status, and no
// capture file made.
inline void expect_usage(const RunResult &run, const std::string &dir, const std::string &screen,
                         int exit_status)
{
    EXPECT_EQ(run.console_out, screen);
    EXPECT_EQ(run.console_err, "");
    EXPECT_EQ(run.exit_status, exit_status);
    EXPECT_FALSE(read_file(dir + "/stdout.err"));
    EXPECT_FALSE(read_file(dir + "/stderr.err"));
}

// One capture run: a command line, the files before and after it.
struct Capture {
    const char *name;
    std::string command_line;
    std::string stdin_data;
    std::optional<std::string> old_out;  // stdout.err before the run
    std::optional<std::string> old_err;  // stderr.err before the run
    std::string out;                     // stdout.err after the run
    std::string err;                     // stderr.err after the run
};

inline void PrintTo(const Capture &c, std::ostream *out)
{
    *out << c.name;
}

// Lays down the earlier files in a fresh directory, runs tovik there with
// run(dir), and checks both files, a silent console and exit status 0.
inline void expect_capture(const Capture &c,
                           const std::function<RunResult(const std::string &dir)> &run)
{
    TempDir dir;
    if (c.old_out)
        write_file(dir.path + "/stdout.err", *c.old_out);
    if (c.old_err)
        write_file(dir.path + "/stderr.err", *c.old_err);

    RunResult result = run(dir.path);

    EXPECT_EQ(read_file(dir.path + "/stdout.err"), c.out);
    EXPECT_EQ(read_file(dir.path + "/stderr.err"), c.err);
    EXPECT_EQ(result.console_out, "");
    EXPECT_EQ(result.console_err, "");
    EXPECT_EQ(result.exit_status, 0);
}

#endif
