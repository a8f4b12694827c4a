#include "subtitles/TimeTXTEditor.h"

namespace kv::subtitles {

std::optional<QString> TimeTXTEditor::textForKey(std::int64_t keyMs) const
{
    if (indexStale_) {
        for (const Row& row : rows_) {
            if (row.keyMs == keyMs)
                return row.text;
        }
        return std::nullopt;
    }
    const auto it = firstRowOfKey_.constFind(keyMs);
    if (it == firstRowOfKey_.constEnd())
        return std::nullopt;
    return rows_[static_cast<size_t>(*it)].text;
}

std::optional<QString> TimeTXTEditor::textForKey(const QString& key) const
{
    bool ok = false;
    const std::int64_t ms = key.toLongLong(&ok);
    // Keys are written as plain decimal numbers; "007" or "+7" name no row.
    if (!ok || QString::number(ms) != key)
        return std::nullopt;
    return textForKey(ms);
}

void TimeTXTEditor::clear()
{
    rows_.clear();
    firstRowOfKey_.clear();
    indexStale_ = false;
}

void TimeTXTEditor::append(std::int64_t keyMs, const QString& text)
{
    rows_.push_back(Row{keyMs, text});
    if (!indexStale_ && !firstRowOfKey_.contains(keyMs))
        firstRowOfKey_.insert(keyMs, static_cast<int>(rows_.size() - 1));
}

void TimeTXTEditor::setKeyMs(int row, std::int64_t keyMs)
{
    rows_.at(static_cast<size_t>(row)).keyMs = keyMs;
    indexStale_ = true; // rebuilt by reindex(): one pass for any number of changes
}

void TimeTXTEditor::reindex()
{
    firstRowOfKey_.clear();
    firstRowOfKey_.reserve(static_cast<qsizetype>(rows_.size()));
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!firstRowOfKey_.contains(rows_[i].keyMs))
            firstRowOfKey_.insert(rows_[i].keyMs, static_cast<int>(i));
    }
    indexStale_ = false;
}

QString formatSubtitleTable(const TimeTXTEditor& table)
{
    QString out;
    for (int row = 0; row < table.rowCount(); ++row) {
        out += table.key(row);
        out += u'\t';
        out += table.value(row);
        out += u'\n';
    }
    return out;
}

} // namespace kv::subtitles
