#include "app/OpenDialog.h"

#include <QFileDialog>

namespace kv::app {

QStringList qtNameFilters(const QString& filter)
{
    QStringList out;
    const QStringList parts = filter.split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        patterns.removeAll(QString());
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(' '));
    }
    return out;
}

bool TOpenDialog::Execute(QWidget* parent)
{
    QFileDialog dialog(parent, Title, InitialDir);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (Options & ofAllowMultiSelect)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else if (Options & ofFileMustExist)
        dialog.setFileMode(QFileDialog::ExistingFile);
    else
        dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled((Options & ofEnableSizing) != 0);
    const QStringList filters = qtNameFilters(Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (FilterIndex >= 1 && FilterIndex <= filters.size())
            dialog.selectNameFilter(filters[FilterIndex - 1]);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    Files = dialog.selectedFiles();
    if (Files.isEmpty())
        return false;
    FileName = Files.first();
    return true;
}

} // namespace kv::app
