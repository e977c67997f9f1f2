// What remembering the last run costs a two-way task whose files are all in
// step: the plan with the record against the plan without it, the writing
// of the record, and the memory the record holds during the plan.
//
//   build/bench/memory_bench WORKDIR [files=100000] [rounds=7]
//
// WORKDIR gets a host and a mirror of FILES files of 100 bytes (20 per
// folder, equal on both sides) and the record's folder; it is emptied first
// and left full. Plans without and with the record alternate, warm cache;
// the record is then written ROUNDS times. Each memory figure comes from a
// child process of its own (peak RSS, and the heap the finished plan holds),
// so neither measurement sees the other's pages.

#include "bench/BenchMeasure.h"
#include "sync/memory/Remember.h"
#include "sync/run/RunGate.h"
#include "sync/run/SyncRun.h"
#include "tasks/TaskPresets.h"
#include "tasks/TextTable.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace duplora;
using namespace duplora::bench;
namespace fs = std::filesystem;

namespace {

constexpr std::time_t kBase = 1714996800;

void Fill(const fs::path& root, int files) {
    const std::string content(100, 'x');
    for (int i = 0; i < files; ++i) {
        const fs::path dir = root / ("d" + std::to_string(i / 20));
        if (i % 20 == 0)
            fs::create_directories(dir);
        const std::string path = (dir / ("f" + std::to_string(i))).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.data(), content.size()) != 100) {
            std::perror(path.c_str());
            std::exit(1);
        }
        const timespec times[2] = {{kBase + i, 0}, {kBase + i, 0}};
        ::futimens(fd, times);
        ::close(fd);
    }
}

struct Bench {
    ResultLines lines;
    RunContext run;
    Bench(const fs::path& work, bool remember) {
        run.TaskName = "bench";
        run.Task = MakePresetRecord(TaskPreset::TwoWay, "");
        run.Task.set_host_path((work / "host").string());
        run.Task.set_mirror_path((work / "mirror").string());
        run.Task.set_remember_last_run(remember);
        run.Start = RunStart::Console;
        run.Lines = &lines;
        run.MemoryFolder = (work / "state").string();
        PrepareRoots(run);
    }
    double Plan() {
        std::string error;
        const double t0 = Now();
        if (!BuildPlan(run, error) || run.Plan.WorkCount() != 0) {
            std::fprintf(stderr, "plan failed or not empty: %s\n", error.c_str());
            std::exit(1);
        }
        return Now() - t0;
    }
};

// Peak RSS (KiB) and the heap the plan holds (bytes) of a child that plans
// once, and writes the record too when `save`.
std::pair<long, long> InChild(const fs::path& work, bool remember, bool save) {
    int fds[2];
    if (::pipe(fds) != 0)
        std::exit(1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        Bench b(work, remember);
        b.Plan();
        long held = static_cast<long>(mallinfo2().uordblks);
        if (save)
            SaveMemory(b.run);
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        const long out[2] = {u.ru_maxrss, held};
        if (::write(fds[1], out, sizeof out) != sizeof out)
            _exit(1);
        _exit(0);
    }
    ::close(fds[1]);
    long in[2] = {0, 0};
    if (::read(fds[0], in, sizeof in) != sizeof in)
        std::exit(1);
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return {in[0], in[1]};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKDIR [files] [rounds]\n", argv[0]);
        return 2;
    }
    SetLanguage(Language::English);
    const fs::path work = argv[1];
    const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
    fs::remove_all(work);
    Fill(work / "host", files);
    Fill(work / "mirror", files);

    Bench off(work, false), on(work, true);
    on.Plan();
    SaveMemory(on.run); // the record every later plan reads
    std::vector<double> tOff, tOn, tSave;
    for (int r = 0; r < rounds; ++r) {
        tOff.push_back(off.Plan());
        tOn.push_back(on.Plan());
    }
    for (int r = 0; r < rounds; ++r) {
        const double t0 = Now();
        SaveMemory(on.run);
        tSave.push_back(Now() - t0);
    }
    const auto [rssOff, heapOff] = InChild(work, false, false);
    const auto [rssOn, heapOn] = InChild(work, true, false);
    const auto [rssSave, heapSave] = InChild(work, true, true);
    (void)heapSave;
    double load[1] = {0};
    ::getloadavg(load, 1);
    std::printf("files per side %d, rounds %d, load %.2f\n", files, rounds, load[0]);
    std::printf("plan without the record  %.3f s (median)\n", Median(tOff));
    std::printf("plan with the record     %.3f s (median), %.3fx\n", Median(tOn),
                Median(tOn) / Median(tOff));
    std::printf(
        "writing the record       %.3f s (median), %lld bytes\n", Median(tSave),
        static_cast<long long>(fs::file_size(fs::directory_iterator(work / "state")->path())));
    std::printf("heap held by the plan    %ld B without, %ld B with: %.1f B per file more\n",
                heapOff, heapOn, static_cast<double>(heapOn - heapOff) / files);
    std::printf("peak RSS                 %ld KiB without, %ld KiB with (%.1f B per file more), "
                "%ld KiB with the record written (%.1f B per file more)\n",
                rssOff, rssOn, (rssOn - rssOff) * 1024.0 / files, rssSave,
                (rssSave - rssOff) * 1024.0 / files);
    return 0;
}
