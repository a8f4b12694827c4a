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

namespace {

// "*.txt;*.sub" gives "txt"; "txt" stays.
QString firstPlainExtension(const QString& defaultExt)
{
    for (QString ext : defaultExt.split(';', Qt::SkipEmptyParts)) {
        ext = ext.trimmed();
        if (ext.startsWith(QLatin1String("*.")))
            ext = ext.mid(2);
        else if (ext.startsWith('.'))
            ext = ext.mid(1);
        if (!ext.isEmpty() && !ext.contains('*') && !ext.contains('?'))
            return ext;
    }
    return {};
}

} // namespace

bool TOpenDialog::Execute(QWidget* parent)
{
    if (OnExecute)
        return OnExecute(*this);
    QFileDialog dialog(parent, Title, InitialDir);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (Options & ofAllowMultiSelect)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else if (Options & ofFileMustExist)
        dialog.setFileMode(QFileDialog::ExistingFile);
    else
        dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled((Options & ofEnableSizing) != 0);
    dialog.setDefaultSuffix(firstPlainExtension(DefaultExt));
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
