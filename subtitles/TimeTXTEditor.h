#pragma once
// The subtitle table: rows of (start time in ms as decimal text, cue text), in the order the
// cues were read. Row 0 is the credit row (key "0") after a load; the cues follow. (The grid
// of the original editor counted its title row as row 0; this table has no title row.)
//
// Appending and looking a key up are O(1) amortised: a hash keeps the first row of each key.
// Const members change nothing, so several threads may read one table at the same time.
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kv::subtitles {

class TimeTXTEditor {
  public:
    int rowCount() const { return static_cast<int>(rows_.size()); }
    bool isEmpty() const { return rows_.empty(); }

    QString key(int row) const { return QString::number(rows_.at(static_cast<size_t>(row)).keyMs); }
    std::int64_t keyMs(int row) const { return rows_.at(static_cast<size_t>(row)).keyMs; }
    const QString& value(int row) const { return rows_.at(static_cast<size_t>(row)).text; }

    // Text of the first row with the key (as a value-list lookup by name does); nothing when
    // no row has that key.
    std::optional<QString> textForKey(std::int64_t keyMs) const;
    std::optional<QString> textForKey(const QString& key) const;

    void clear();
    void append(std::int64_t keyMs, const QString& text);
    // Changing keys leaves lookups correct but linear until reindex() is called once.
    void setKeyMs(int row, std::int64_t keyMs);
    void reindex();

  private:
    struct Row {
        std::int64_t keyMs;
        QString text;
    };

    std::vector<Row> rows_;
    QHash<std::int64_t, int> firstRowOfKey_;
    bool indexStale_ = false;
};

// The table as `kestrovid-convert --list-subtitles` prints it: per row the key, a tab and the
// text as stored, one row per line, each line ending with "\n".
QString formatSubtitleTable(const TimeTXTEditor& table);

} // namespace kv::subtitles
