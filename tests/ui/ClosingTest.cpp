#include "ui/Closing.h"

#include "tasks/ConfigFile.h"
#include "tasks/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace duplora;
using duplora::testing::ReadBytes;
using duplora::testing::TempFolder;
using duplora::testing::WriteBytes;

namespace {

const ClosingTexts kTexts{"Task changed, save it or not?", "Prompt", "Error"};

// Scripted answers and a record of what the user was shown.
struct Dialogs {
    explicit Dialogs(std::vector<bool> a = {}) : answers(std::move(a)) {}
    std::vector<bool> answers;
    std::vector<std::string> asked;
    std::vector<std::string> errors;
    ClosingActions actions() {
        ClosingActions a;
        a.askYesNo = [this](const std::string& text, const std::string& caption) {
            asked.push_back(caption + ": " + text);
            const bool yes = !answers.empty() && answers.front();
            if (!answers.empty())
                answers.erase(answers.begin());
            return yes;
        };
        a.showError = [this](const std::string& text, const std::string& caption) {
            errors.push_back(caption + ": " + text);
        };
        return a;
    }
};

TaskList Changed() {
    TaskList list;
    list.append("A", TaskRecord::MakeNew("d"));
    list.setChanged();
    return list;
}

} // namespace

TEST(Closing, UnchangedListClosesAndAppendsTheLog) {
    TempFolder dir;
    TaskList list;
    Dialogs d;
    EXPECT_EQ(RunClosing(list, dir.file("Duplora.cfg"), dir.file("duplora.log"), {"r1"}, kTexts,
                         d.actions()),
              CloseDecision::Close);
    EXPECT_TRUE(d.asked.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("Duplora.cfg")));
    EXPECT_EQ(ReadBytes(dir.file("duplora.log")).size(), 5u);

    // No run since the start: the log is not touched.
    EXPECT_EQ(
        RunClosing(list, dir.file("Duplora.cfg"), dir.file("duplora.log"), {}, kTexts, d.actions()),
        CloseDecision::Close);
    EXPECT_EQ(ReadBytes(dir.file("duplora.log")).size(), 5u);
}

TEST(Closing, AnswerNoKeepsTheFileYesSavesIt) {
    TempFolder dir;
    const std::string cfg = dir.file("Duplora.cfg");
    WriteBytes(cfg, {'o', 'l', 'd', '!'});
    TaskList list = Changed();
    Dialogs no({false});
    EXPECT_EQ(RunClosing(list, cfg, dir.file("duplora.log"), {"r"}, kTexts, no.actions()),
              CloseDecision::Close);
    EXPECT_EQ(no.asked, std::vector<std::string>{"Prompt: Task changed, save it or not?"});
    EXPECT_EQ(ReadBytes(cfg), (std::vector<std::uint8_t>{'o', 'l', 'd', '!'}));
    EXPECT_TRUE(std::filesystem::exists(dir.file("duplora.log")));

    Dialogs yes({true});
    EXPECT_EQ(RunClosing(list, cfg, dir.file("duplora.log"), {}, kTexts, yes.actions()),
              CloseDecision::Close);
    EXPECT_FALSE(list.changed());
    EXPECT_EQ(ReadBytes(cfg), SerializeConfiguration(list));
}

TEST(Closing, FailedSaveIsExplainedAndAskedAgain) {
    TempFolder dir;
    const std::string cfg = dir.file("Duplora.cfg");
    TaskList list = Changed();
    Dialogs d({true, true, false});
    int attempts = 0;
    ClosingActions a = d.actions();
    a.save = [&](TaskList&, std::string& error) {
        ++attempts;
        error = "Cannot create file " + cfg;
        return false;
    };
    EXPECT_EQ(RunClosing(list, cfg, dir.file("duplora.log"), {}, kTexts, a), CloseDecision::Close);
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(d.asked.size(), 3u);
    EXPECT_EQ(d.errors, std::vector<std::string>(2, "Error: Cannot create file " + cfg));
    EXPECT_TRUE(list.changed());

    // A save that fails once and then works ends the questions.
    Dialogs again({true, true});
    a = again.actions();
    attempts = 0;
    a.save = [&](TaskList& l, std::string& error) {
        return ++attempts > 1 && SaveConfiguration(cfg, l, error);
    };
    EXPECT_EQ(RunClosing(list, cfg, dir.file("duplora.log"), {}, kTexts, a), CloseDecision::Close);
    EXPECT_EQ(again.asked.size(), 2u);
    EXPECT_FALSE(list.changed());
    EXPECT_TRUE(std::filesystem::exists(cfg));
}

TEST(Closing, UnreadableLogKeepsTheProgramOpen) {
    TempFolder dir;
    const std::string log = dir.file("duplora.log");
    std::filesystem::create_directory(log);
    TaskList list = Changed();
    Dialogs d({true});
    EXPECT_EQ(RunClosing(list, dir.file("Duplora.cfg"), log, {"r"}, kTexts, d.actions()),
              CloseDecision::StayOpen);
    EXPECT_FALSE(list.changed()); // the save question came first and was settled
    EXPECT_EQ(d.errors, std::vector<std::string>{"Error: Cannot open file " + log});

    // A log that cannot be written is not reported and does not keep it open.
    WriteBytes(dir.file("plain"), {'x'});
    Dialogs quiet;
    EXPECT_EQ(RunClosing(list, dir.file("Duplora.cfg"), dir.file("plain") + "/duplora.log", {"r"},
                         kTexts, quiet.actions()),
              CloseDecision::Close);
    EXPECT_TRUE(quiet.errors.empty());
}

TEST(Closing, TextsComeFromTheInterfaceTable) {
    SetLanguage(Language::English);
    const ClosingTexts t = ClosingTextsFromTable();
    EXPECT_EQ(t.saveQuestion, "Task changed, save it or not?");
    EXPECT_EQ(t.promptCaption, "Prompt");
    EXPECT_EQ(t.errorCaption, "Error");
}

TEST(Closing, WithdrawnQuestionStaysOpenAndWritesNothing) {
    // Esc or the box's close button: the user has not decided, so neither
    // the edits nor the log block may be given up or written yet.
    TempFolder dir;
    const std::string cfg = dir.file("Duplora.cfg");
    TaskList list = Changed();
    ClosingActions a;
    a.askYesNo = [](const std::string&, const std::string&) { return std::optional<bool>(); };
    EXPECT_EQ(RunClosing(list, cfg, dir.file("duplora.log"), {"r"}, kTexts, a),
              CloseDecision::StayOpen);
    EXPECT_TRUE(list.changed());
    EXPECT_FALSE(std::filesystem::exists(cfg));
    EXPECT_FALSE(std::filesystem::exists(dir.file("duplora.log")));
}
