// list, show, new, set and delete through the console program, in-process.

#include "cli/CliFixture.h"
#include "tasks/TaskPresets.h"

namespace duplora::test {
namespace {

std::map<std::string, std::string> ShowFields(const CliResult& r) {
    std::map<std::string, std::string> fields;
    for (const std::string& line : CliFixture::Lines(r.out)) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos)
            fields[line.substr(0, colon)] = line.substr(colon + 2);
        else if (!line.empty() && line.back() == ':')
            fields[line.substr(0, line.size() - 1)] = "";
    }
    return fields;
}

TEST(CliEdit, MissingConfigurationMeansNoTasks) {
    CliFixture f;
    const CliResult r = f.Cli({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(f.config)) << "listing must not create the file";
}

TEST(CliEdit, NewTaskHasTheNewTaskDefaults) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"new", "Photos"}).code, 0);
    const CliResult r = f.Cli({"show", "photos"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto fields = ShowFields(r);
    EXPECT_EQ(fields["name"], "Photos");
    for (const char* a : {"only_in_host_action", "only_in_mirror_action", "size_differs_action",
                          "newer_in_host_action", "newer_in_mirror_action", "empty_folder_action"})
        EXPECT_EQ(fields[a], "ignore") << a;
    EXPECT_EQ(fields["sync_type"], "folder");
    EXPECT_EQ(fields["include_subfolders"], "off");
    EXPECT_EQ(fields["only_include_folders"], "off");
    EXPECT_EQ(fields["description"], "Task description...");
    EXPECT_EQ(fields["speed_limit"], "3000");
    EXPECT_EQ(fields["max_errors"], "10");
    EXPECT_EQ(fields["ignore_hour_difference"], "on");
    EXPECT_EQ(fields["time_tolerance"], "2");
    EXPECT_EQ(fields.count("reserved"), 0u);

    // The stored record is byte for byte a new-task record.
    const TaskList list = f.LoadList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].record, TaskRecord::MakeNew("Task description..."));
}

// --preset gives the preset's record, byte for byte the one the window's
// New Task menu makes; an unknown preset is refused and nothing is stored.
TEST(CliEdit, NewWithAPresetStoresThePresetRecord) {
    CliFixture f;
    const struct {
        const char* preset;
        TaskPreset kind;
        std::map<std::string, std::string> fields;
    } cases[] = {
        {"mirror",
         TaskPreset::Mirror,
         {{"include_subfolders", "on"},
          {"speed_limit", "0"},
          {"only_in_host_action", "to-mirror"},
          {"only_in_mirror_action", "delete"},
          {"size_differs_action", "to-mirror"},
          {"newer_in_host_action", "to-mirror"},
          {"newer_in_mirror_action", "to-mirror"},
          {"on_delete", "trash"},
          {"delete_limit", "20"}}},
        {"two-way",
         TaskPreset::TwoWay,
         {{"include_subfolders", "on"},
          {"speed_limit", "0"},
          {"only_in_host_action", "to-mirror"},
          {"only_in_mirror_action", "to-host"},
          {"newer_in_host_action", "to-mirror"},
          {"newer_in_mirror_action", "to-host"},
          {"on_delete", "trash"},
          {"delete_limit", "0"},
          {"remember_last_run", "on"},
          {"detect_moves", "on"},
          {"conflict_action", "keep-both"}}},
    };
    std::size_t index = 0;
    for (const auto& c : cases) {
        const std::string name = std::string("P ") + c.preset;
        ASSERT_EQ(f.Cli({"new", name, "--preset", c.preset}).code, 0) << c.preset;
        auto fields = ShowFields(f.Cli({"show", name}));
        for (const auto& [key, value] : c.fields)
            EXPECT_EQ(fields[key], value) << c.preset << " " << key;
        EXPECT_EQ(f.LoadList()[index++].record, MakePresetRecord(c.kind, "Task description..."));
    }
    const CliResult bad = f.Cli({"new", "X", "--preset", "backup"});
    EXPECT_NE(bad.code, 0);
    EXPECT_NE(bad.err.find("--preset: expected mirror or two-way, got 'backup'"), std::string::npos)
        << bad.err;
    EXPECT_EQ(f.LoadList().size(), 2u);
}

TEST(CliEdit, RoundTripOfEveryFieldOption) {
    CliFixture f;
    const CliResult made = f.Cli({"new",
                                  "Docs",
                                  "--host",
                                  "/srv/a",
                                  "--mirror",
                                  "/srv/b",
                                  "--subfolders",
                                  "on",
                                  "--folder",
                                  "/x/y",
                                  "--folder",
                                  "/z/",
                                  "--include-folders",
                                  "--only-in-host",
                                  "to-mirror",
                                  "--only-in-mirror",
                                  "delete",
                                  "--size-differs",
                                  "to-host",
                                  "--newer-in-host",
                                  "to-mirror",
                                  "--newer-in-mirror",
                                  "to-host",
                                  "--empty-folders",
                                  "delete",
                                  "--description",
                                  "two\nlines",
                                  "--auto",
                                  "on",
                                  "--only-masks",
                                  "*.doc;*.txt",
                                  "--ignore-masks",
                                  "*.tmp",
                                  "--delete-masks",
                                  "*.bak;;",
                                  "--speed",
                                  "0",
                                  "--max-errors",
                                  "999",
                                  "--ignore-hour",
                                  "off",
                                  "--tolerance",
                                  "99",
                                  "--net-user",
                                  "me",
                                  "--net-password",
                                  "secret"});
    ASSERT_EQ(made.code, 0) << made.err;

    const TaskList list = f.LoadList();
    ASSERT_EQ(list.size(), 1u);
    const TaskRecord& r = list[0].record;
    EXPECT_EQ(r.host_path(), "/srv/a");
    EXPECT_EQ(r.mirror_path(), "/srv/b");
    EXPECT_TRUE(r.include_subfolders());
    EXPECT_EQ(r.folder_list(), "/x/y\r\n/z\r\n"); // the trailing '/' is dropped
    EXPECT_TRUE(r.only_include_folders());
    EXPECT_EQ(r.only_in_host_action(), SyncAction::HostToMirror);
    EXPECT_EQ(r.only_in_mirror_action(), SyncAction::Delete);
    EXPECT_EQ(r.size_differs_action(), SyncAction::MirrorToHost);
    EXPECT_EQ(r.newer_in_host_action(), SyncAction::HostToMirror);
    EXPECT_EQ(r.newer_in_mirror_action(), SyncAction::MirrorToHost);
    EXPECT_EQ(r.empty_folder_action(), SyncAction::Delete);
    EXPECT_EQ(r.description(), "two\nlines");
    EXPECT_TRUE(r.auto_mode());
    EXPECT_TRUE(r.only_masks_enabled());
    EXPECT_EQ(r.only_masks(), "*.doc\r\n*.txt\r\n");
    EXPECT_TRUE(r.ignore_masks_enabled());
    EXPECT_EQ(r.ignore_masks(), "*.tmp\r\n");
    EXPECT_TRUE(r.delete_masks_enabled());
    EXPECT_EQ(r.delete_masks(), "*.bak\r\n");
    EXPECT_EQ(r.speed_limit(), 0);
    EXPECT_EQ(r.max_errors(), 999);
    EXPECT_FALSE(r.ignore_hour_difference());
    EXPECT_EQ(r.tolerance_seconds(), 99);
    EXPECT_EQ(r.net_user(), "me");
    EXPECT_EQ(r.net_password(), "secret");

    auto fields = ShowFields(f.Cli({"show", "DOCS"}));
    EXPECT_EQ(fields["folder_list"], "/x/y;/z");
    EXPECT_EQ(fields["only_masks"], "*.doc;*.txt");
    EXPECT_EQ(fields["description"], "two\\nlines");
    EXPECT_EQ(fields["net_password"], "********"); // a fixed mask, never the length
    EXPECT_EQ(fields["size_differs_action"], "to-host");

    // An empty mask text clears the list and its flag; an empty --folder
    // empties the folder list.
    ASSERT_EQ(
        f.Cli({"set", "docs", "--ignore-masks", "", "--folder", "", "--exclude-folders"}).code, 0);
    const TaskRecord after = f.LoadList()[0].record;
    EXPECT_FALSE(after.ignore_masks_enabled());
    EXPECT_EQ(after.ignore_masks(), "");
    EXPECT_EQ(after.folder_list(), "");
    EXPECT_FALSE(after.only_include_folders());
    EXPECT_TRUE(after.delete_masks_enabled()) << "untouched fields keep their values";
}

TEST(CliEdit, RenameMatchesWithoutCaseAndDeleteRemoves) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"new", "One"}).code, 0);
    ASSERT_EQ(f.Cli({"new", "Two"}).code, 0);
    ASSERT_EQ(f.Cli({"new", "Three"}).code, 0);
    EXPECT_EQ(f.Cli({"list"}).out, "One\nTwo\nThree\n");

    ASSERT_EQ(f.Cli({"set", "TWO", "--name", "Zwei"}).code, 0);
    // A task may take its own name in another case.
    ASSERT_EQ(f.Cli({"set", "zwei", "--name", "ZWEI"}).code, 0);
    EXPECT_EQ(f.Cli({"list"}).out, "One\nZWEI\nThree\n");

    ASSERT_EQ(f.Cli({"delete", "one"}).code, 0);
    EXPECT_EQ(f.Cli({"list"}).out, "ZWEI\nThree\n");
    EXPECT_EQ(f.Cli({"show", "one"}).code, 2);
}

TEST(CliEdit, EditsKeepSchedulesAndOtherTasksIntact) {
    CliFixture f;
    TaskList list;
    TaskRecord kept = TaskRecord::MakeNew("keep me");
    kept.bytes()[5] = 0x5A; // a reserved byte: carried unchanged
    list.append("Kept", kept);
    list.append("Other", TaskRecord::MakeNew("x"));
    ScheduleRecord s;
    s.bytes[0] = 7;
    list.schedules().push_back(s);
    std::string error;
    ASSERT_TRUE(SaveConfiguration(f.config, list, error));

    ASSERT_EQ(f.Cli({"set", "other", "--speed", "50"}).code, 0);
    ASSERT_EQ(f.Cli({"new", "Third"}).code, 0);
    ASSERT_EQ(f.Cli({"delete", "third"}).code, 0);
    const TaskList after = f.LoadList();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].record, kept);
    EXPECT_EQ(after[1].record.speed_limit(), 50);
    ASSERT_EQ(after.schedules().size(), 1u);
    EXPECT_EQ(after.schedules()[0], s);
}

// Every refusal exits with 2, says why on stderr and leaves the file as it
// was.
TEST(CliEdit, InvalidEditsAreRefusedAndNothingIsStored) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"new", "Base", "--host", "/h", "--mirror", "/m"}).code, 0);
    ASSERT_EQ(f.Cli({"new", "FileTask", "--type", "file"}).code, 0);
    const std::string before = f.FileBytes(f.config);

    const std::vector<std::vector<std::string>> refused = {
        {"new", "base"},                                  // name taken, other case
        {"new", "Sixteen chars xx"},                      // 16 characters
        {"new", ""},                                      // empty name
        {"new", "ok", "--name", "FileTask"},              // renamed onto a taken name
        {"set", "base", "--name", "filetask"},            // taken by another task
        {"set", "base", "--only-in-host", "to-host"},     // not allowed for that field
        {"set", "base", "--only-in-mirror", "to-mirror"}, //
        {"set", "base", "--size-differs", "delete"},      //
        {"set", "base", "--newer-in-host", "delete"},     //
        {"set", "base", "--empty-folders", "copy"},       // no such action
        {"set", "base", "--ignore-masks", "*.tmp;[abc"},  // unclosed set
        {"set", "base", "--only-masks", std::string(30, 'a') + std::string(31, '*')},
        {"set", "base", "--delete-masks", std::string(254, 'x')}, // 256 bytes with CR LF
        {"set", "base", "--speed", "10001"},
        {"set", "base", "--speed", "-1"},
        {"set", "base", "--max-errors", "1000"},
        {"set", "base", "--max-errors", "ten"},
        {"set", "base", "--tolerance", "100"},
        {"set", "base", "--tolerance", "1.5"},
        {"set", "base", "--subfolders", "yes"},
        {"set", "base", "--type", "tree"},
        {"set", "base", "--folder", "no-slash"},
        {"set", "base", "--folder", "/"},
        {"set", "base", "--folder", std::string(1022, 'f').insert(0, "/")}, // 1025 bytes
        {"set", "base", "--include-folders", "--exclude-folders"},
        {"set", "base", "--net-user", "sixteen-chars-xx"},
        {"set", "base", "--host", "/" + std::string(511, 'h')}, // 512 bytes
        {"set", "base", "--description", std::string(512, 'd')},
        {"set", "base"},                                       // nothing to change
        {"set", "base", "--speed", "5", "--tolerance", "200"}, // one bad edit spoils all
        {"set", "filetask", "--subfolders", "on"},
        {"set", "filetask", "--include-folders"},
        {"set", "filetask", "--folder", "sub/name.txt"},
        {"set", "filetask", "--ignore-masks", "*.tmp"},
        {"set", "nobody", "--speed", "1"},
        {"delete", "nobody"},
        {"set", "base", "--no-such-option", "1"},
        {"frobnicate"},
        {},
    };
    for (const auto& args : refused) {
        const CliResult r = f.Cli(args);
        std::string shown;
        for (const auto& a : args)
            shown += "[" + a.substr(0, 20) + "] ";
        EXPECT_EQ(r.code, 2) << shown << r.err;
        EXPECT_FALSE(r.err.empty()) << shown;
        EXPECT_EQ(f.FileBytes(f.config), before) << shown;
    }
}

TEST(CliEdit, LimitsAreInclusive) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"new", "Fifteen chars x"}).code, 0);
    // 15 characters of three bytes each: the limit counts characters.
    ASSERT_EQ(f.Cli({"new", "一二三四五六七八九十一二三四五"}).code, 0);
    const std::string max =
        std::string(126, 'a') + ";" + std::string(125, 'b'); // 126+2 + 125+2 = 255 bytes
    const CliResult r = f.Cli({"set", "fifteen chars x", "--ignore-masks", max, "--speed", "10000",
                               "--tolerance", "0", "--net-password", "fifteen-chars-x", "--folder",
                               "/" + std::string(1020, 'f')}); // 1023 with CR LF
    ASSERT_EQ(r.code, 0) << r.err;
    const TaskRecord rec = f.LoadList()[0].record;
    EXPECT_EQ(rec.ignore_masks().size(), 255u);
    EXPECT_EQ(rec.folder_list().size(), 1023u);
    EXPECT_EQ(rec.tolerance_seconds(), 0);
    EXPECT_EQ(rec.speed_limit(), 10000);
}

TEST(CliEdit, ChangingTheTypeDropsTheFilters) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"new", "T", "--subfolders", "on", "--folder", "/a", "--include-folders",
                     "--ignore-masks", "*.tmp", "--delete-masks", "*.bak", "--only-masks", "*.txt"})
                  .code,
              0);
    // The type is applied first, so a file list given with it belongs to
    // the new type, whatever the order of the options.
    const CliResult r = f.Cli({"set", "t", "--folder", "list.txt", "--type", "file"});
    ASSERT_EQ(r.code, 0) << r.err;
    const TaskRecord rec = f.LoadList()[0].record;
    EXPECT_EQ(rec.sync_type(), SyncType::File);
    EXPECT_EQ(rec.folder_list(), "list.txt\r\n");
    EXPECT_FALSE(rec.include_subfolders());
    EXPECT_FALSE(rec.only_include_folders());
    EXPECT_FALSE(rec.ignore_masks_enabled());
    EXPECT_FALSE(rec.delete_masks_enabled());
    EXPECT_EQ(rec.ignore_masks(), "");
    EXPECT_EQ(rec.only_masks(), "");
    EXPECT_TRUE(rec.only_masks_enabled()) << "the only-masks flag keeps its value";

    // Setting the type it already has drops nothing.
    ASSERT_EQ(f.Cli({"set", "t", "--type", "file"}).code, 0);
    EXPECT_EQ(f.LoadList()[0].record.folder_list(), "list.txt\r\n");
}

TEST(CliEdit, AmbiguousNamesAreAUsageErrorThatListsThem) {
    CliFixture f;
    TaskList list;
    list.append("Backup", TaskRecord::MakeNew(""));
    list.append("BACKUP", TaskRecord::MakeNew(""));
    list.append("Other", TaskRecord::MakeNew(""));
    std::string error;
    ASSERT_TRUE(SaveConfiguration(f.config, list, error));
    const std::string before = f.FileBytes(f.config);

    for (const char* cmd : {"show", "plan", "delete"}) {
        const CliResult r = f.Cli({cmd, "backup"});
        EXPECT_EQ(r.code, 2) << cmd;
        EXPECT_TRUE(HasText(r.err, "Backup")) << cmd;
        EXPECT_TRUE(HasText(r.err, "BACKUP")) << cmd;
    }
    EXPECT_EQ(f.Cli({"set", "backup", "--speed", "1"}).code, 2);
    EXPECT_EQ(f.FileBytes(f.config), before);
    EXPECT_EQ(f.Cli({"show", "other"}).code, 0);
}

TEST(CliEdit, UnreadableConfigurationIsAUsageError) {
    CliFixture f;
    fs::create_directories(f.config); // a folder where the file should be
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list"}, {"new", "X"}, {"run", "--auto"}}) {
        const CliResult r = f.Cli(args);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_TRUE(HasText(r.err, f.config));
    }
    EXPECT_TRUE(fs::is_directory(f.config));
}

TEST(CliEdit, FailedSaveIsReportedAndKeepsTheOldFile) {
    CliFixture f;
    const std::string sub = f.tmp.sub("gone");
    fs::create_directories(sub);
    const std::vector<std::string> args = {"--config", sub + "/Duplora.cfg", "--lang", "en", "new",
                                           "A"};
    fs::remove(sub); // the folder of the configuration has vanished
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCli(args, out, err), 1);
    EXPECT_TRUE(HasText(err.str(), "Cannot create file"));
}

TEST(CliEdit, HelpVersionAndLanguage) {
    CliFixture f;
    CliResult r = f.Cli({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(HasText(r.out, "plan"));
    EXPECT_TRUE(HasText(r.out, "delete"));
    r = f.Cli({"set", "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(HasText(r.out, "--only-in-mirror"));
    r = f.Cli({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(HasText(r.out, "duplora-cli " DUPLORA_VERSION));

    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCli({"--config", f.config, "--lang", "fr", "list"}, out, err), 2);

    // The new-task description follows the interface language.
    out.str("");
    ASSERT_EQ(cli::RunCli({"--config", f.config, "--lang", "zh-TW", "new", "Z"}, out, err), 0);
    EXPECT_NE(f.LoadList()[0].record.description(), "Task description...");
    SetLanguage(Language::English);
}

TEST(CliEdit, UnknownCommandIsNamed) {
    CliFixture f;
    const struct {
        std::vector<std::string> args;
        const char* word;
    } cases[] = {
        {{"lsit"}, "lsit"},
        {{"schedule", "lst"}, "lst"},
        {{"--lang", "en", "frobnicate", "x"}, "frobnicate"},
    };
    for (const auto& c : cases) {
        const CliResult r = f.Cli(c.args);
        EXPECT_EQ(r.code, 2) << c.word;
        EXPECT_TRUE(HasText(r.err, std::string("unknown command '") + c.word + "'"));
    }
    // Option values, also after the command, are no commands.
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCli({"list", "--config", f.config}, out, err), 0) << err.str();
    EXPECT_EQ(cli::RunCli({"schedule", "--config", f.config, "list"}, out, err), 0) << err.str();
}

TEST(CliEdit, PasswordFromAFileOrStandardInputNeverFromTheLine) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"new", "T"}).code, 0);
    const std::string file = f.tmp.sub("secrets/pw");
    f.tmp.build(f.tmp.sub("secrets"), {{"pw", "from file\nsecond line\n"}, {"crlf", "dos\r\n"}});
    const struct {
        std::vector<std::string> args;
        std::string input;
        int code;
        std::string stored; // after the call
        const char* error;
    } cases[] = {
        {{"--net-password-file", file}, "", 0, "from file", nullptr},
        {{"--net-password-file", f.tmp.sub("secrets/crlf")}, "", 0, "dos", nullptr},
        {{"--net-password", "-"}, "typed\r\nrest", 0, "typed", nullptr},
        {{"--net-password", "-"}, "", 2, "typed", "no password on standard input"},
        {{"--net-password-file", f.tmp.sub("missing")}, "", 2, "typed", "cannot read"},
        {{"--net-password-file", file, "--net-password", "x"}, "", 2, "typed", "exclude"},
        {{"--net-password", "-"}, "sixteen chars..!\n", 2, "typed", "at most 15"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--config", f.config, "--lang", "en", "set", "T"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::istringstream in(c.input);
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCli(args, out, err, in), c.code) << c.args[0] << " " << c.input;
        EXPECT_EQ(f.LoadList()[0].record.net_password(), c.stored) << c.args[0];
        if (c.error) {
            EXPECT_TRUE(HasText(err.str(), c.error));
        }
    }
    EXPECT_EQ(ShowFields(f.Cli({"show", "T"}))["net_password"], "********");
    ASSERT_EQ(f.Cli({"set", "T", "--net-password", ""}).code, 0);
    EXPECT_EQ(ShowFields(f.Cli({"show", "T"}))["net_password"], "");
}

TEST(CliEdit, SafetyOptionsAreCheckedAndShown) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"new", "Safe", "--host", "/h", "--mirror", "/m"}).code, 0);
    auto fields = ShowFields(f.Cli({"show", "safe"}));
    EXPECT_EQ(fields["on_delete"], "permanent");
    EXPECT_EQ(fields["versions_folder"], "");
    EXPECT_EQ(fields["delete_limit"], "0");

    struct Case {
        std::vector<std::string> options;
        const char* onDelete; // null: refused with exit 2, nothing stored
        const char* folder;
        const char* limit;
    };
    // 4,095 bytes in folders of 99, relative to each side.
    std::string longest;
    while (longest.size() + 100 <= 4095)
        longest += std::string(99, 'v') + "/";
    longest += std::string(4095 - longest.size(), 'v');
    const std::string tooLong = longest + "v";
    const Case cases[] = {
        {{"--on-delete", "trash"}, "trash", "", "0"},
        {{"--on-delete", "PERMANENT", "--delete-limit", "99"}, "permanent", "", "99"},
        {{"--delete-limit", "100"}, nullptr, nullptr, nullptr}, // would never stop a run
        {{"--delete-limit", "0"}, "permanent", "", "0"},
        {{"--on-delete", "versions", "--versions-folder", longest},
         "versions",
         longest.c_str(),
         "0"},
        {{"--delete-limit", "101"}, nullptr, nullptr, nullptr},
        {{"--delete-limit", "-1"}, nullptr, nullptr, nullptr},
        {{"--delete-limit", "40%"}, nullptr, nullptr, nullptr},
        {{"--on-delete", "recycle"}, nullptr, nullptr, nullptr},
        {{"--versions-folder", tooLong}, nullptr, nullptr, nullptr},  // never cut
        {{"--versions-folder", "../up"}, nullptr, nullptr, nullptr},  // leaves the side
        {{"--versions-folder", "/h/old"}, nullptr, nullptr, nullptr}, // inside a root
        {{"--versions-folder", ""}, nullptr, nullptr, nullptr},       // none for versions
        {{"--host", "/m/sub"}, nullptr, nullptr, nullptr},            // root moved around it
        {{"--versions-folder", "a\nb"}, nullptr, nullptr, nullptr},
        {{"--versions-folder", "\xff"}, nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"set", "safe"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const std::string before = f.FileBytes(f.config);
        const CliResult r = f.Cli(args);
        const std::string shown = c.options[0] + " " + c.options[1].substr(0, 10);
        if (!c.onDelete) {
            EXPECT_EQ(r.code, 2) << shown;
            EXPECT_TRUE(HasText(r.err, c.options.back() == tooLong ? "at most 4095"
                                       : c.options.back() == "100" ? "never stop a run"
                                                                   : "--"))
                << shown;
            EXPECT_EQ(f.FileBytes(f.config), before) << shown;
            continue;
        }
        ASSERT_EQ(r.code, 0) << shown << r.err;
        fields = ShowFields(f.Cli({"show", "safe"}));
        EXPECT_EQ(fields["on_delete"], c.onDelete) << shown;
        EXPECT_EQ(fields["versions_folder"], c.folder) << shown;
        EXPECT_EQ(fields["delete_limit"], c.limit) << shown;
    }
}

} // namespace
} // namespace duplora::test
