#pragma once
// Shared pieces of the window tests: the program's windows built as the
// start-up sequence builds them, over a temporary home, and message boxes
// answered by a script instead of a screen.

#include "app/gui/StartUp.h"
#include "tasks/TextTable.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace duplora::testing {

struct SeenBox {
    BoxKind kind;
    std::string text;
    std::string caption;
};

// Records every box; Yes/No boxes take the queued answers (No when none is
// left).
class BoxScript {
public:
    BoxScript() {
        SetBoxHook([this](BoxKind kind, const QString& text, const QString& caption) {
            seen.push_back({kind, text.toStdString(), caption.toStdString()});
            if (kind != BoxKind::YesNo)
                return true;
            if (answers.empty())
                return false;
            const bool a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    ~BoxScript() { SetBoxHook({}); }
    BoxScript(const BoxScript&) = delete;
    BoxScript& operator=(const BoxScript&) = delete;

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const SeenBox& b : seen)
            out.push_back(b.text);
        return out;
    }

    std::deque<bool> answers;
    std::vector<SeenBox> seen;
};

inline std::string ReadFileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFileText(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

// Calls `act` on the first visible modal dialog of type T as soon as one is
// open (polling every 10 ms, for up to `timeoutMs`).
template <class T> void WhenModalOpens(std::function<void(T*)> act, int timeoutMs = 20000) {
    auto* timer = new QTimer;
    auto started = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, started, timeoutMs] {
        *started += 10;
        if (auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dlg);
        } else if (*started > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

// The program's windows over a temporary home holding no configuration.
class WindowsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        SetLanguage(Language::English);
        root_ = dir_.path().toStdString();
        StartOptions options;
        options.paths.folder = (root_ / "home").string() + "/";
        std::filesystem::create_directories(root_ / "home");
        options.paths.configPath = options.paths.folder + "Duplora.cfg";
        options.paths.logPath = options.paths.folder + "duplora.log";
        windows_ = CreateAppWindows(options);
    }
    void TearDown() override { windows_.reset(); }

    QTemporaryDir dir_;
    std::filesystem::path root_;
    BoxScript boxes_;
    std::unique_ptr<AppWindows> windows_;
};

} // namespace duplora::testing
