#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tovik-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    path = buffer.data();
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::optional<std::string> read_file(const std::string &path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string &path, const std::string &bytes, unsigned mode)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out || chmod(path.c_str(), mode) != 0)
        throw std::runtime_error("cannot write " + path);
}

bool is_directory(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool wrapper_set()
{
    const char *wrapper = std::getenv("TOVIK_TEST_WRAPPER");
    return wrapper != nullptr && *wrapper != '\0';
}

std::vector<std::string> wrapped(const std::vector<std::string> &argv)
{
    std::vector<std::string> words;
    if (wrapper_set()) {
        std::istringstream wrapper(std::getenv("TOVIK_TEST_WRAPPER"));
        for (std::string word; wrapper >> word;)
            words.push_back(word);
    }
    words.insert(words.end(), argv.begin(), argv.end());
    return words;
}

static void redirect(const std::string &path, int flags, int target)
{
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0)
        _exit(126);
    close(fd);
}

void close_inherited_descriptors()
{
    const long limit = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd)
        close(fd);
}

RunResult run_program(const std::vector<std::string> &argv, const std::string &dir,
                      const std::string &stdin_data, const std::function<void()> &in_child)
{
    // The console lives outside dir, so that the program's own files there
    // are all that dir holds.
    TempDir console;
    const std::string in_path = console.path + "/in";
    const std::string out_path = console.path + "/out";
    const std::string err_path = console.path + "/err";
    write_file(in_path, stdin_data);

    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        redirect(in_path, O_RDONLY, 0);
        redirect(out_path, O_WRONLY | O_CREAT | O_TRUNC, 1);
        redirect(err_path, O_WRONLY | O_CREAT | O_TRUNC, 2);
        close_inherited_descriptors();
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        if (in_child)
            in_child();
        execvp(args[0], args.data());
        _exit(127);
    }

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("waitpid failed");
    }
    RunResult result;
    result.console_out = read_file(out_path).value_or("");
    result.console_err = read_file(err_path).value_or("");
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}
