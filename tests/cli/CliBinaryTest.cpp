// The real duplora-cli program: result lines reach a pipe while the run is
// still going, and a stderr that is not a terminal gets no progress bar.

#include "TestPaths.h"
#include "cli/CliFixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

extern char** environ;

namespace duplora::test {
namespace {

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr; // the child's stdout
};

// Starts duplora-cli with `args`; stdout is a pipe, stderr goes to `errPath`.
Child Spawn(const std::vector<std::string>& args, const std::string& errPath) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all = {DUPLORA_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Child c;
    EXPECT_EQ(posix_spawn(&c.pid, DUPLORA_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    c.out = fdopen(fds[0], "r");
    return c;
}

std::string ReadLine(FILE* f) {
    char buf[4096];
    if (!std::fgets(buf, sizeof buf, f))
        return "";
    return buf;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts `count` copies at once, each with its own arguments, and returns
// their exit codes.
std::vector<int> RunTogether(const CliFixture& f, int count,
                             const std::function<std::vector<std::string>(int)>& args) {
    std::vector<Child> children;
    for (int i = 0; i < count; ++i)
        children.push_back(Spawn(args(i), f.tmp.sub("stderr" + std::to_string(i) + ".txt")));
    std::vector<int> codes;
    for (Child& c : children) {
        while (!ReadLine(c.out).empty()) {
        }
        std::fclose(c.out);
        codes.push_back(Wait(c.pid));
    }
    return codes;
}

TEST(CliBinary, ParallelEditsAndRunsLoseNothing) {
    CliFixture f;
    fs::create_directories(f.host);
    fs::create_directories(f.mirror);
    const std::vector<int> made = RunTogether(f, 10, [&](int i) {
        return std::vector<std::string>{
            "--config", f.config,   "new",    "task" + std::to_string(i), "--host",
            f.host,     "--mirror", f.mirror, "--only-in-host",           "to-mirror"};
    });
    EXPECT_EQ(made, std::vector<int>(10, 0));
    EXPECT_EQ(f.LoadList().size(), 10u) << "every new task survives the others' saves";

    // Each run has nothing to do and appends a block of its own.
    const std::vector<int> ran = RunTogether(f, 40, [&](int i) {
        return std::vector<std::string>{"--config", f.config, "--lang",
                                        "en",       "run",    "task" + std::to_string(i % 10)};
    });
    EXPECT_EQ(ran, std::vector<int>(40, 0));
    const std::string log = f.FileBytes(f.log);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\0'), 40);
    std::size_t blocks = 0;
    for (std::size_t pos = 0;
         (pos = log.find("No file need to be synchronized!", pos)) != std::string::npos; ++pos)
        ++blocks;
    EXPECT_EQ(blocks, 40u);
}

TEST(CliBinary, ClosedStdoutStopsThePrintingNotTheRun) {
    CliFixture f;
    f.tmp.build(f.host, {{"a.txt", "aa"}, {"b.txt", "bb"}});
    fs::create_directories(f.mirror);
    f.NewOneWay("T");
    Child c = Spawn({"--config", f.config, "--lang", "en", "run", "t"}, f.tmp.sub("err.txt"));
    std::fclose(c.out); // the reader is gone before the first line
    EXPECT_EQ(Wait(c.pid), 0) << "no SIGPIPE (141)";
    EXPECT_EQ(f.FileBytes(f.mirror + "/b.txt"), "bb");
    EXPECT_TRUE(HasText(f.FileBytes(f.log), "Task finish!\r\n"));
}

TEST(CliBinary, ResultLinesArriveWhileTheRunGoesOnAndNoProgressOnAPipe) {
    CliFixture f;
    // 400 KiB at 200 KB/s: the copy takes about two seconds.
    f.tmp.build(f.host, {{"big.bin", std::string(400 * 1024, 'x')}});
    fs::create_directories(f.mirror);
    f.NewOneWay("Slow");
    ASSERT_EQ(f.Cli({"set", "slow", "--speed", "200"}).code, 0);

    const std::string errPath = f.tmp.sub("stderr.txt");
    Child c = Spawn({"--config", f.config, "--lang", "en", "run", "slow"}, errPath);
    ASSERT_NE(c.out, nullptr);
    const std::string stamp = ReadLine(c.out);
    const std::string start = ReadLine(c.out);
    EXPECT_EQ(start, "Start task: Slow\n");
    int status = 0;
    // The first lines came through the pipe before the program ended: they
    // were flushed as written, not when the buffer filled or at exit.
    EXPECT_EQ(waitpid(c.pid, &status, WNOHANG), 0) << "the run should still be copying";

    std::string rest;
    for (std::string line; !(line = ReadLine(c.out)).empty();)
        rest += line;
    std::fclose(c.out);
    ASSERT_EQ(waitpid(c.pid, &status, 0), c.pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(HasText(rest, "Task finish!\n"));
    EXPECT_TRUE(HasText(rest, "Host folder -> Mirror folder: 1 file\n"));
    EXPECT_EQ(f.FileBytes(errPath), "") << "no progress bar when stderr is a file";
    EXPECT_EQ(f.FileBytes(f.mirror + "/big.bin").size(), 400u * 1024);
}

TEST(CliBinary, ExitCodesOfTheProgram) {
    CliFixture f;
    const std::string errPath = f.tmp.sub("stderr.txt");
    auto exitCode = [&](const std::vector<std::string>& args) {
        Child c = Spawn(args, errPath);
        while (!ReadLine(c.out).empty()) {
        }
        std::fclose(c.out);
        int status = 0;
        waitpid(c.pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(exitCode({"--version"}), 0);
    EXPECT_EQ(exitCode({"--config", f.config, "list"}), 0);
    EXPECT_EQ(exitCode({"--config", f.config, "show", "none"}), 2);
    EXPECT_EQ(exitCode({"--config", f.config, "bogus"}), 2);
}

} // namespace
} // namespace duplora::test
