#pragma once
// A main window as the tests drive it: real engine, player and logger; the user's settings
// store in memory, web pages recorded instead of opened, warning boxes recorded instead of
// shown, and a locale that writes 24-hour times with leading zeros.
#include "app/MainFrm.h"
#include "appcore/MemorySettingsStore.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

namespace kv::test {

struct WarningRecord {
    QString caption;
    QString text;
};

// Serves the GUI thread's events until cond() holds or the time is up; returns cond().
inline bool waitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return cond();
        QTest::qWait(10);
    }
    return true;
}

inline QString qpath(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

class WindowHarness {
  public:
    explicit WindowHarness(QLocale locale = QLocale(QLocale::English, QLocale::UnitedKingdom))
    {
        app::TfrmMainSetup setup;
        setup.locale = locale;
        setup.store = &store;
        setup.urlOpener = &opener;
        setup.warningBox = [this](const QString& caption, const QString& text) {
            warnings.push_back({caption, text});
        };
        window = std::make_unique<app::TfrmMain>(std::move(setup));
        // No test ever sees a real file dialog: a dialog shown without a prepared answer is cancelled.
        for (app::TOpenDialog* d : {&window->OpenDialog1, &window->OpenTXT})
            d->OnExecute = [this, d](app::TOpenDialog&) {
                if (dialogAnswer.isEmpty())
                    return false;
                d->FileName = dialogAnswer;
                dialogAnswer.clear();
                return true;
            };
    }

    app::TfrmMain& operator*() { return *window; }
    app::TfrmMain* operator->() { return window.get(); }

    // The pane's lines. (An empty first line does not show in the pane's text: the pane
    // cannot tell it from an empty pane.)
    QStringList logLines() const { return window->mmoLog->toPlainText().split('\n'); }
    // The line with an empty line before and after it.
    bool logHasBlock(const QString& line) const
    {
        const QStringList lines = logLines();
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            if (lines[i] == line && (i == 0 || lines[i - 1].isEmpty()) && lines[i + 1].isEmpty())
                return true;
        return false;
    }
    int countLines(const QString& line) const { return static_cast<int>(logLines().count(line)); }

    // The add routine through the command line's route and through the dialog's file name.
    void addByCommandLine(const std::filesystem::path& source)
    {
        window->HandOverCommandLine({qpath(source)});
    }
    void addWithoutSender(const std::filesystem::path& source)
    {
        window->OpenDialog1.FileName = qpath(source);
        window->btnAddClick(nullptr);
    }

    // Drops file names on the window as the desktop would.
    void drop(const QStringList& paths)
    {
        if (!window->isVisible()) { // the window takes drops once it is shown
            window->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        }
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent dropEvent(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &dropEvent);
    }

    bool finished() const { return window->LProgress->text() == window->ProgressPrefix + "100%"; }
    bool waitFinished(int timeoutMs = 120000)
    {
        return waitUntil([this] { return finished(); }, timeoutMs);
    }

    MemorySettingsStore store;
    platform::RecordingUrlOpener opener;
    std::vector<WarningRecord> warnings;
    QString dialogAnswer; // the file the next dialog returns; empty: the user cancels
    std::unique_ptr<app::TfrmMain> window;
};

// Expected state of one button: visible, enabled, and Down when it matters.
struct ButtonState {
    controls::TMBButton* button;
    bool visible;
    bool enabled;
    int down = -1; // -1: not checked
};

inline void expectButtons(const std::vector<ButtonState>& states)
{
    for (const ButtonState& s : states) {
        SCOPED_TRACE(s.button->objectName().toStdString());
        EXPECT_EQ(!s.button->isHidden(), s.visible);
        EXPECT_EQ(s.button->isEnabled(), s.enabled);
        if (s.down >= 0) {
            EXPECT_EQ(s.button->Down(), s.down == 1);
        }
    }
}

} // namespace kv::test
