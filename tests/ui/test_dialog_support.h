#pragma once

// What the dialog and start-up tests share: preset answers for the modal boxes, a program
// directory with the simulated client, and the dialog over a real controller and engine.
#include "core/cachestore.h"
#include "core/options.h"
#include "core/timings.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "support/programdir.h"
#include "support/tempdir.h"
#include "support/wait.h"
#include "ui/clientchooser.h"
#include "ui/systemtray.h"
#include "host/enginepump.h"
#include "ui/vantreldlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "engine/enginecontext.h"

namespace vantrel::test {

// The modal boxes answered from a queue; every question and message recorded.
class CPresetPrompts final : public IUserPrompts {
public:
    struct Question {
        QString title;
        QString directory;
        QString filter;
    };
    struct Message {
        EMessageKind kind;
        QString text;
    };

    // Answers of the file dialog in turn; an empty one, or none left, cancels.
    std::deque<QString> fileAnswers;
    std::vector<Question> questions;
    std::vector<Message> messages;
    // Runs whenever a box would be shown, to look at the program at that moment.
    std::function<void()> onPrompt;

    QString AskOpenFileName(QWidget*, const QString& title, const QString& directory, const QString& filter) override {
        questions.push_back({title, directory, filter});
        if (onPrompt)
            onPrompt();
        if (fileAnswers.empty())
            return {};
        QString answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }

    QString AskSaveFileName(QWidget* parent, const QString& title, const QString& path,
                            const QString& filter) override {
        return AskOpenFileName(parent, title, path, filter);
    }

    void ShowMessage(QWidget*, EMessageKind kind, const QString& text) override {
        messages.push_back({kind, text});
        if (onPrompt)
            onPrompt();
    }

    // The first start's explanation: its text and the box's default recorded; the box answered
    // from firstRunAnswer (none: cancelled; unset: left as it was).
    std::vector<std::pair<QString, bool>> explanations;
    std::optional<std::optional<bool>> firstRunAnswer;
    std::optional<bool> ExplainFirstRun(const QString& text, bool copyByDefault) override {
        explanations.emplace_back(text, copyByDefault);
        if (onPrompt)
            onPrompt();
        return firstRunAnswer ? *firstRunAnswer : std::optional<bool>(copyByDefault);
    }
};

// Durations shrunk a thousandfold, so nothing waits for real minutes.
inline Timings FastTimings() {
    return Timings{}.Scaled(0.001);
}

// The dialog over a real controller and engine in its own program directory. No tray area
// unless asked for (the offscreen platform has none).
class DialogScene {
public:
    explicit DialogScene(std::vector<std::string> arguments = {}, bool trayAvailable = false)
        : store(program.dir.Path(), "vantrel", runningSlots), trayUp(trayAvailable), tray([this] { return trayUp; }),
          m_arguments(std::move(arguments)) {
        CClientChooser chooser(prompts);
        EXPECT_TRUE(store.SelectClientAtStartup(chooser));
        Build();
    }

    ~DialogScene() { Dismantle(); }

    // The dialog, engine and controller made anew over the same program directory, as at the
    // program's next start there.
    void Restart() {
        Dismantle();
        controller.reset();
        ctx.reset();
        dialog.reset();
        Build();
    }

    DialogScene(const DialogScene&) = delete;
    DialogScene& operator=(const DialogScene&) = delete;

    // The item of the window's menu with that text, or null.
    QAction* WindowMenuItem(const QString& text) const {
        for (QAction* action : dialog->WindowMenu()->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    // The dialog's initialisation and the commands it posts itself (shown, or minimised).
    void Init(bool startMinimized = false) {
        dialog->InitDialog(startMinimized);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(dialog->Control(id)); }
    QAbstractButton* Button(int id) const { return qobject_cast<QAbstractButton*>(dialog->Control(id)); }
    QLabel* Label(int id) const { return qobject_cast<QLabel*>(dialog->Control(id)); }

    // Replaces a field's text as the user would: focus, select all, type.
    void Type(int id, const QString& text) const {
        QLineEdit* edit = Edit(id);
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    ProgramDir program;
    CRunningSlots runningSlots;
    CCacheStore store;
    COptions options;
    bool trayUp; // whether a notification area is there now
    CSystemTray tray;
    CPresetPrompts prompts;
    CEnginePump pump; // the event loop as the controller's scheduler
    std::unique_ptr<CVantrelDlg> dialog;
    std::unique_ptr<CEngineContext> ctx;
    std::unique_ptr<CVantrelController> controller;

private:
    void Build() {
        dialog = std::make_unique<CVantrelDlg>(options, store, tray, prompts, program.exe);
        ctx = std::make_unique<CEngineContext>(store, runningSlots, options, FastTimings(), pump);
        controller =
            std::make_unique<CVantrelController>(*ctx, dialog.get(), pump, m_arguments, program.dir / "vantrel.cfg");
        pump.Attach(controller.get());
        dialog->AttachController(controller.get());
        QObject::connect(&tray, &CSystemTray::commandChosen, dialog.get(), &CVantrelDlg::OnTrayCommand);
    }

    void Dismantle() {
        controller->Shutdown();
        pump.Attach(nullptr);
        dialog->AttachController(nullptr);
    }

    std::vector<std::string> m_arguments;
};

} // namespace vantrel::test
