// Deleting to the trash against deleting permanently.
//
//   build/bench/trash_bench WORKDIR [files=10000] [rounds=5] [size=100]
//
// The mirror holds FILES files of SIZE bytes in folders of 100; the host is
// empty and the task deletes what only the mirror has. Each round builds the
// tree afresh, flushes it (`sync`, outside the timing), and runs the task once
// with on_delete Permanent and once with Trash (the home trash in
// WORKDIR/data, emptied before each run), in alternating order. Reports the
// whole run (scan, plan, deletes) and the execution steps alone, medians of
// the rounds and the ratios trash / permanent. WORKDIR is emptied first.

#include "bench/BenchMeasure.h"
#include "sync/run/SyncRun.h"
#include "sync/share/ShareRun.h"
#include "tasks/TextTable.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace duplora;
using namespace duplora::bench;
namespace fs = std::filesystem;

namespace {

void BuildMirror(const std::string& mirror, int files, std::size_t size) {
    const std::string data(size, 'x');
    for (int i = 0; i < files; ++i) {
        const std::string dir = mirror + "/d" + std::to_string(i / 100);
        if (i % 100 == 0)
            fs::create_directories(dir);
        const std::string path = dir + "/file " + std::to_string(i) + ".txt";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, data.data(), size) != static_cast<ssize_t>(size)) {
            std::perror(path.c_str());
            std::exit(1);
        }
        ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKDIR [files] [rounds] [size]\n", argv[0]);
        return 2;
    }
    SetLanguage(Language::English);
    const fs::path work = fs::absolute(argv[1]);
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::size_t size = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 100;
    fs::remove_all(work);
    const std::string host = (work / "host").string();
    const std::string mirror = (work / "mirror").string();
    const std::string data = (work / "data").string();
    fs::create_directories(host);
    fs::create_directories(data);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    // PAUSE=SECONDS waits after building each tree: an ext4 without a journal
    // has new inodes step over those freed in the last 30 s, so creating the
    // info files right after the rebuild's deletes costs many times more.
    const char* pauseText = std::getenv("PAUSE");
    const unsigned pause = pauseText ? static_cast<unsigned>(std::atoi(pauseText)) : 0;
    std::printf("mirror: %d files of %zu bytes in folders of 100, all deleted; pause %u s\n", files,
                size, pause);

    std::vector<double> whole[2], exec[2], cpu[2];
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool trash = (r + k) % 2 == 1;
            fs::remove_all(mirror);
            fs::remove_all(data + "/Trash");
            BuildMirror(mirror, files, size);
            ::sync();
            if (pause > 0)
                ::sleep(pause);
            ResultLines lines;
            RunContext run;
            run.TaskName = trash ? "trash" : "permanent";
            run.Task = TaskRecord::MakeNew("");
            run.Task.set_host_path(host);
            run.Task.set_mirror_path(mirror);
            run.Task.set_include_subfolders(true);
            run.Task.set_only_in_mirror_action(SyncAction::Delete);
            run.Task.set_on_delete(trash ? DeleteMode::Trash : DeleteMode::Permanent);
            run.Start = RunStart::CommandLine;
            run.Lines = &lines;
            const double t0 = Now();
            ShareConnector shares;
            if (PassGate(run, shares) != GateVerdict::Ready)
                return 1;
            BeginRun(run);
            StepListMain(run);
            if (!StepListMirror(run))
                return 1;
            const double t1 = Now();
            const double c1 = CpuSeconds();
            StepSyncMain(run);
            StepSyncMirror(run);
            StepSyncFolder(run);
            const double t2 = Now();
            const double c2 = CpuSeconds();
            if (run.Plan.DeletedInMirror != files || run.Plan.FailedCount != 0) {
                std::fprintf(stderr, "%s run deleted %d of %d (%d failed)\n", run.TaskName.c_str(),
                             run.Plan.DeletedInMirror, files, run.Plan.FailedCount);
                return 1;
            }
            if (trash && !fs::exists(data + "/Trash/files/file 0.txt"))
                return std::fprintf(stderr, "nothing in the trash\n"), 1;
            whole[trash].push_back(t2 - t0);
            exec[trash].push_back(t2 - t1);
            cpu[trash].push_back(c2 - c1);
            std::printf("round %d %-9s %6.3f s run, %6.3f s deleting (cpu %.3f s)\n", r,
                        run.TaskName.c_str(), t2 - t0, t2 - t1, c2 - c1);
            std::fflush(stdout);
        }
    }
    std::printf("median permanent %.3f s run, %.3f s deleting, cpu %.3f s\n", Median(whole[0]),
                Median(exec[0]), Median(cpu[0]));
    std::printf("median trash     %.3f s run, %.3f s deleting, cpu %.3f s\n", Median(whole[1]),
                Median(exec[1]), Median(cpu[1]));
    std::printf("ratio trash / permanent: %.2fx run, %.2fx deleting, %.2fx cpu\n",
                Median(whole[1]) / Median(whole[0]), Median(exec[1]) / Median(exec[0]),
                Median(cpu[1]) / Median(cpu[0]));
    fs::remove_all(work);
    return 0;
}
