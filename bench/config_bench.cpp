// Load and save of a large configuration: 1,000 tasks and 1,000 schedules
// (about 3.5 MB). Both must stay well under 20 ms. And the log append, with
// an empty log and with a 300 MB one: it must cost the same.
#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"
#include "tasks/LogFile.h"

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace duplora;

namespace {

TaskList LargeList() {
    TaskList list;
    for (int i = 0; i < 1000; ++i) {
        TaskRecord r = TaskRecord::MakeNew("Task description...");
        r.set_host_path("/home/user/data/folder" + std::to_string(i));
        r.set_mirror_path("/media/backup/folder" + std::to_string(i));
        r.set_folder_list("/cache\r\n/tmp\r\n");
        list.append("Task " + std::to_string(i), r);
    }
    for (int i = 0; i < 1000; ++i) {
        ScheduleRecord s;
        s.bytes.fill(static_cast<std::uint8_t>(i));
        list.schedules().push_back(s);
    }
    return list;
}

std::string BenchFile() {
    static const std::string path = [] {
        std::string dir =
            (std::filesystem::temp_directory_path() / "duplora-bench-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr)
            std::abort();
        return dir + "/Duplora.cfg";
    }();
    return path;
}

void BM_SaveConfiguration(benchmark::State& state) {
    TaskList list = LargeList();
    std::string error;
    for (auto _ : state) {
        if (!SaveConfiguration(BenchFile(), list, error))
            state.SkipWithError(error.c_str());
    }
}
BENCHMARK(BM_SaveConfiguration)->Unit(benchmark::kMillisecond);

void BM_LoadConfiguration(benchmark::State& state) {
    TaskList list = LargeList();
    std::string error;
    if (!SaveConfiguration(BenchFile(), list, error))
        state.SkipWithError(error.c_str());
    for (auto _ : state) {
        TaskList loaded;
        if (LoadConfiguration(BenchFile(), loaded, error) != LoadStatus::Loaded ||
            loaded.size() != 1000)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(loaded);
    }
}
BENCHMARK(BM_LoadConfiguration)->Unit(benchmark::kMillisecond);

void BM_SerializeAndParse(benchmark::State& state) {
    const TaskList list = LargeList();
    for (auto _ : state) {
        const auto bytes = SerializeConfiguration(list);
        TaskList parsed;
        ParseConfiguration(bytes.data(), bytes.size(), parsed);
        benchmark::DoNotOptimize(parsed);
    }
}
BENCHMARK(BM_SerializeAndParse)->Unit(benchmark::kMillisecond);

// One run's block (about 1 KB) appended to a log that already holds
// state.range(0) MB (sparse, so the set-up costs no disk).
void BM_AppendLogBlock(benchmark::State& state) {
    const std::string log = BenchFile() + ".log" + std::to_string(state.range(0));
    if (std::FILE* f = std::fopen(log.c_str(), "w"))
        std::fclose(f);
    if (::truncate(log.c_str(), state.range(0) << 20) != 0)
        state.SkipWithError("cannot make the log");
    const std::vector<std::string> lines(20, std::string(50, 'r'));
    std::string error;
    for (auto _ : state) {
        if (AppendLogBlock(log, lines, error, ConfigLockPath(BenchFile())) != LogStatus::Written)
            state.SkipWithError("append failed");
    }
    std::filesystem::remove(log);
}
BENCHMARK(BM_AppendLogBlock)->Arg(0)->Arg(300)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(BenchFile()).parent_path(), ec);
    return 0;
}
