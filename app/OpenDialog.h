#pragma once
// An open-file dialog set up the way the window's dialogs are described: option flags and
// a filter text of "description|patterns|description|patterns..." pairs.
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace kv::app {

enum TOpenOption : unsigned {
    ofReadOnly = 1u << 0,
    ofOverwritePrompt = 1u << 1,
    ofHideReadOnly = 1u << 2,
    ofAllowMultiSelect = 1u << 3,
    ofPathMustExist = 1u << 4,
    ofFileMustExist = 1u << 5,
    ofEnableSizing = 1u << 6,
};

class TOpenDialog {
  public:
    unsigned Options = ofHideReadOnly | ofEnableSizing;
    QString Filter;      // "Video Files|*.AVI;*.MP4;|All Files|*.*"
    int FilterIndex = 1; // 1-based: the entry selected when the dialog opens
    QString Title;
    QString InitialDir;
    // Extensions a typed name without one may take ("txt", or "*.txt;*.sub"); the first
    // plain one is appended.
    QString DefaultExt;
    QString FileName; // the chosen file after Execute returned true
    QStringList Files;

    // Shows the dialog modally; false when the user cancelled.
    bool Execute(QWidget* parent);

    // Stands in for the user when set (tests): called instead of showing the dialog, it sets
    // FileName and returns whether the user confirmed.
    std::function<bool(TOpenDialog& dialog)> OnExecute;
};

// The filter text as Qt name filters: "Video Files (*.AVI *.MP4)"; empty patterns dropped.
QStringList qtNameFilters(const QString& filter);

} // namespace kv::app
