// Helpers for tests that run a program as a user would: in a directory of its
// own, with given standard input, reading back its console and exit status.
#ifndef TOVIK_TESTS_HARNESS_H
#define TOVIK_TESTS_HARNESS_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// A fresh directory under $TMPDIR (or /tmp), removed with all it holds.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
};

// The bytes of a file, or nothing when it does not exist or is no file.
std::optional<std::string> read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes, unsigned mode = 0644);
bool is_directory(const std::string &path);

struct RunResult {
    std::string console_out;
    std::string console_err;
    int exit_status = -1;  // -1 when the program did not exit normally
    int signal = 0;        // the signal that ended it, if one did
};

// argv behind the words of $TOVIK_TEST_WRAPPER, if set (a checker such as
// valgrind that runs the program).
std::vector<std::string> wrapped(const std::vector<std::string> &argv);
bool wrapper_set();

// Closes every descriptor above 2, in a child about to exec a program under
// test, so that it starts with what the test gives it and nothing that the
// test runner happened to pass on.
void close_inherited_descriptors();

// Runs argv[0] (a path, or a name looked up in PATH) with argv in directory dir, with stdin_data as
// its standard input and no descriptor above 2. in_child, when given, runs in the child just before
// exec; it may end the child with _exit(code) to report that it could not prepare.
RunResult run_program(const std::vector<std::string> &argv, const std::string &dir,
                      const std::string &stdin_data = "",
                      const std::function<void()> &in_child = nullptr);

// Names each case of a parameterized test after its `name` member.
template <typename Case> std::string case_name(const testing::TestParamInfo<Case> &case_info)
{
    return case_info.param.name;
}

#endif
