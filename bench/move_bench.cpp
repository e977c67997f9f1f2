// Moves against the copy + delete they replace, and what pairing costs a
// plan with nothing to pair.
//
//   build/bench/move_bench WORKDIR [files=10000] [size=1048576] [rounds=3] [planfiles=100000]
//
// 1. A folder of FILES files of SIZE bytes (distinct contents, times 11 s
//    apart, the one-hour allowance off, so no two pair by size and time) is
//    renamed on the host; the mirror still has it under the
//    old name. Each round runs the task once with moves off (copy + delete)
//    and once with moves on, in alternating order, after `sync` and a drop
//    of the page cache (needs root), so both read from the disk. Reports
//    the wall time of the run, the time until its written data reached the
//    disk (the run plus a `sync`), and write_bytes of /proc/self/io.
// 2. Plans FILES unchanged small files (PLANFILES of 100 bytes each side),
//    moves off and on alternately, warm cache: the pairing must cost next to
//    nothing when there is nothing to pair.
// Medians of each, and the ratios. WORKDIR is emptied first and left full.

#include "bench/BenchMeasure.h"
#include "sync/run/SyncRun.h"
#include "tasks/TextTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace duplora;
using namespace duplora::bench;
namespace fs = std::filesystem;

namespace {

constexpr std::time_t kBase = 1714996800; // 2024-05-06 12:00 UTC

// A field of /proc/self/io (all threads of the process): "read_bytes:" or
// "write_bytes:", the bytes this process had fetched from or sent to the disk.
long long IoBytes(const char* field) {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == field)
            return value;
    return -1;
}

bool DropCaches() {
    ::sync();
    std::ofstream f("/proc/sys/vm/drop_caches");
    f << "3\n";
    return static_cast<bool>(f.flush());
}

// Deterministic bytes, different for every file.
void WriteFile(const std::string& path, std::size_t size, std::uint64_t seed, std::time_t mtime,
               std::vector<char>& buf) {
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    buf.resize(size);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(buf.data() + i, &x, 8);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, buf.data(), size) != static_cast<ssize_t>(size)) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::futimens(fd, times);
    ::close(fd);
}

RunContext MakeRun(const std::string& host, const std::string& mirror, bool moves,
                   ResultLines& lines) {
    RunContext run;
    run.TaskName = moves ? "moves" : "copy";
    run.Task = TaskRecord::MakeNew("");
    run.Task.set_host_path(host);
    run.Task.set_mirror_path(mirror);
    run.Task.set_include_subfolders(true);
    run.Task.set_only_in_host_action(SyncAction::HostToMirror);
    run.Task.set_only_in_mirror_action(SyncAction::Delete);
    run.Task.set_newer_in_host_action(SyncAction::HostToMirror);
    run.Task.set_speed_limit(0);
    run.Task.set_detect_moves(moves);
    // Times are packed in 2-second steps, so with the one-hour allowance two
    // files 3,597 s apart can count as the same time; the files of this tree
    // are 11 s apart and must stay unique by size and time.
    run.Task.set_ignore_hour_difference(false);
    run.Start = RunStart::CommandLine;
    run.Lines = &lines;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKDIR [files] [size] [rounds] [planfiles]\n", argv[0]);
        return 2;
    }
    SetLanguage(Language::English);
    const fs::path work = argv[1];
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::size_t size = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : (1 << 20);
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 3;
    const int planFiles = argc > 5 ? std::atoi(argv[5]) : 100000;

    fs::remove_all(work);
    const std::string host = (work / "host").string();
    const std::string mirror = (work / "mirror").string();
    fs::create_directories(host + "/photos 2024");
    fs::create_directories(mirror + "/photos");
    std::vector<char> buf;
    for (int i = 0; i < files; ++i) {
        const std::string name = "/img" + std::to_string(100000 + i) + ".jpg";
        const std::time_t t = kBase + 11 * static_cast<std::time_t>(i);
        WriteFile(host + "/photos 2024" + name, size, static_cast<std::uint64_t>(i), t, buf);
        WriteFile(mirror + "/photos" + name, size, static_cast<std::uint64_t>(i), t, buf);
    }
    std::printf("tree: %d files of %zu bytes, renamed folder\n", files, size);

    std::vector<double> wall[2], flushed[2];
    std::vector<double> written[2];
    bool dropped = true;
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool moves = (r + k) % 2 == 1;
            dropped = DropCaches() && dropped;
            ResultLines lines;
            RunContext run = MakeRun(host, mirror, moves, lines);
            const long long r0 = IoBytes("read_bytes:");
            const long long w0 = IoBytes("write_bytes:");
            const double t0 = Now();
            RunSteps(run);
            const double t1 = Now();
            ::sync();
            const double t2 = Now();
            const long long r1 = IoBytes("read_bytes:");
            const long long w1 = IoBytes("write_bytes:");
            const int done = moves ? run.Plan.MovedCount : run.Plan.CopiedToMirror;
            if (done != files || run.Plan.FailedCount != 0) {
                std::fprintf(stderr, "%s run did %d of %d (%d failed)\n", moves ? "move" : "copy",
                             done, files, run.Plan.FailedCount);
                return 1;
            }
            wall[moves].push_back(t1 - t0);
            flushed[moves].push_back(t2 - t0);
            written[moves].push_back(static_cast<double>(w1 - w0));
            std::printf("round %d %-12s %7.2f s run, %7.2f s with sync, read_bytes %lld, "
                        "write_bytes %lld\n",
                        r, moves ? "moves" : "copy+delete", t1 - t0, t2 - t0, r1 - r0, w1 - w0);
            std::fflush(stdout);
            // Back to the renamed-folder state: the mirror's files under the
            // old folder name again (a folder rename, no data moved).
            fs::remove(mirror + "/photos");
            fs::rename(mirror + "/photos 2024", mirror + "/photos");
        }
    }
    if (!dropped)
        std::printf("NOTE: the page cache could not be dropped (not root?)\n");
    std::printf("median copy+delete %.2f s (%.2f s with sync), write_bytes %.0f\n", Median(wall[0]),
                Median(flushed[0]), Median(written[0]));
    std::printf("median moves       %.2f s (%.2f s with sync), write_bytes %.0f\n", Median(wall[1]),
                Median(flushed[1]), Median(written[1]));
    std::printf("ratio moves / copy+delete: %.2fx run, %.2fx with sync\n",
                Median(wall[1]) / Median(wall[0]), Median(flushed[1]) / Median(flushed[0]));

    // Planning with nothing to pair.
    fs::remove_all(work);
    const std::string phost = (work / "phost").string();
    const std::string pmirror = (work / "pmirror").string();
    for (int i = 0; i < planFiles; ++i) {
        const std::string dir = "/d" + std::to_string(i / 1000);
        if (i % 1000 == 0) {
            fs::create_directories(phost + dir);
            fs::create_directories(pmirror + dir);
        }
        const std::string name = dir + "/f" + std::to_string(i);
        WriteFile(phost + name, 100, static_cast<std::uint64_t>(i), kBase, buf);
        WriteFile(pmirror + name, 100, static_cast<std::uint64_t>(i), kBase, buf);
    }
    std::vector<double> plan[2];
    for (int r = 0; r < 2 * rounds + 1; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool moves = (r + k) % 2 == 1;
            ResultLines lines;
            RunContext run = MakeRun(phost, pmirror, moves, lines);
            PrepareRoots(run);
            std::string error;
            const double t0 = Now();
            if (!BuildPlan(run, error) || run.Plan.WorkCount() != 0) {
                std::fprintf(stderr, "plan failed: %s\n", error.c_str());
                return 1;
            }
            plan[moves].push_back(Now() - t0);
        }
    }
    std::printf("plan %d unchanged files: median off %.3f s, on %.3f s, ratio %.3fx\n", planFiles,
                Median(plan[0]), Median(plan[1]), Median(plan[1]) / Median(plan[0]));
    return 0;
}
