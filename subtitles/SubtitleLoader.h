#pragma once
// Loading a subtitle file into the subtitle table.
//
// Seven timing formats: SubStation (.ssa/.ass), SAMI (.smi), MicroDVD ({start}{end}text),
// MPL2 ([start][end]text, tenths of a second), bracketed minutes:seconds ([mm:ss]text),
// SubRip (.srt) and TMPlayer (hh:mm:ss:text). Only start times are kept, cut to whole seconds;
// the first row of the table is the credit row.
#include "options/SubtitleSettings.h"
#include "subtitles/TextDecoding.h"
#include "subtitles/TimeTXTEditor.h"

#include <QString>
#include <QStringList>

namespace kv::subtitles {

enum class SubtitleFormat { None, SubStation, Sami, MicroDvd, Mpl2, BracketMinutesSeconds, SubRip, TmPlayer };

QString formatName(SubtitleFormat format);

struct LoadResult {
    // True when the file was read and its lines turned into rows: the window then shows
    // btnSubOn pressed. False leaves btnSubOn as it was; `message` says why.
    bool ok = false;
    QString message; // one line for the log pane (error, or what was loaded)
    SubtitleFormat format = SubtitleFormat::None;
    QString encoding; // how the bytes were read, e.g. "WINDOWS-1250"
    int cueRows = 0;  // rows after the credit row
};

// The credit row's text: ".:: www." + the maker's domain + " ::.".
QString creditRowText();

// Appends the comma-separated pieces of `text` to `list`, blanks around each removed; after
// each comma only the next 255 characters of the remainder are looked at. No comma gives one
// piece, an empty text one empty piece.
void SplitByComma(const QString& text, QStringList& list);

// Reads the subtitle file `path` into `table`, using `rawLines` (the raw-line list) as the
// working list of the file's lines. `sourceFrameRate` (frames per second of the source) turns
// MicroDVD frame numbers into times.
//
// Failures that leave the table as it was: the file cannot be read, an unknown override
// encoding, a SubStation file without an "[Events]" line or without a line after it.
// Failures that leave only the credit row: a file without lines; a MicroDVD file for a source
// frame rate that is not a positive finite number. In both cases ok is false.
// The settings are the options holder's (loading reads none of them today).
LoadResult LoadTXT(const QString& path, double sourceFrameRate, const options::SubtitleSettings& settings,
                   TimeTXTEditor& table, QStringList& rawLines, const DecodeOptions& decodeOptions = {});

} // namespace kv::subtitles
