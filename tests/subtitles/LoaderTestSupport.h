#pragma once
// Loading subtitle text written by a test, and the resulting table as plain rows.
#include "subtitles/SubtitleLoader.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace kv::subtitles::test {

using Rows = std::vector<std::pair<std::int64_t, QString>>;

inline Rows rowsOf(const TimeTXTEditor& table)
{
    Rows rows;
    for (int r = 0; r < table.rowCount(); ++r)
        rows.emplace_back(table.keyMs(r), table.value(r));
    return rows;
}

// The cue rows, without the credit row.
inline Rows cuesOf(const TimeTXTEditor& table)
{
    Rows rows = rowsOf(table);
    if (!rows.empty())
        rows.erase(rows.begin());
    return rows;
}

// The data folder beside this file (found without the environment, which CTest may not pass).
inline QString dataFile(const char* name)
{
    const std::filesystem::path here(__FILE__);
    return QString::fromStdString((here.parent_path() / "data" / name).string());
}

struct Loaded {
    LoadResult result;
    TimeTXTEditor table;
    QStringList rawLines;
};

inline Loaded loadPath(const QString& path, double fps = 25.0, DecodeOptions options = {})
{
    if (options.language.isEmpty())
        options.language = QStringLiteral("en_US");
    Loaded out;
    const options::SubtitleSettings settings;
    out.result = LoadTXT(path, fps, settings, out.table, out.rawLines, options);
    return out;
}

// Writes `bytes` to a file called `name` in a fresh folder and loads it.
inline Loaded loadBytes(const char* name, const QByteArray& bytes, double fps = 25.0,
                        DecodeOptions options = {})
{
    kv::test::TempDir dir;
    const QString path = QString::fromStdString((dir / name).string());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    return loadPath(path, fps, std::move(options));
}

} // namespace kv::subtitles::test

// Readable failures: rows printed as "key<TAB>text".
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
