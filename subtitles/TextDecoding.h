#pragma once
// Turning the bytes of a subtitle file into text lines.
//
// A byte-order mark selects UTF-8, UTF-16LE or UTF-16BE. Without one, an override encoding
// (the --encoding option, else $KESTROVID_SUBTITLE_ENCODING) is used when given; otherwise
// bytes that are valid UTF-8 are read as UTF-8 and anything else in the legacy Windows code
// page of the user's language (Windows-1250 for Polish, 1251 for Russian, ...).
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace kv::subtitles {

struct DecodeOptions {
    // Encoding name as iconv knows it ("WINDOWS-1250", "ISO-8859-2", "UTF-8"); empty = none.
    // When empty, $KESTROVID_SUBTITLE_ENCODING is consulted.
    QString encodingOverride;
    // The user's language ("pl", "pl_PL", "ru_RU.UTF-8"); empty = the system locale's.
    QString language;
};

struct DecodedText {
    QString text;
    QString encoding; // what was used, e.g. "UTF-8 (byte-order mark)", "WINDOWS-1250"
};

// The legacy Windows code page of a language, as an iconv name ("WINDOWS-1252" when unknown).
QString legacyCodePageFor(const QString& language);

// The language of the user's locale (QLocale::system()).
QString systemLanguage();

// True when the bytes form valid UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(const QByteArray& bytes);

// Decodes with iconv; bytes the encoding does not define become U+FFFD. Returns nothing when
// iconv does not know the encoding.
std::optional<QString> decodeWith(const QByteArray& bytes, const QString& encoding);

// Decodes a whole file's bytes. Returns nothing (and sets *error) only when an override names
// an encoding iconv does not know.
std::optional<DecodedText> decodeSubtitleBytes(const QByteArray& bytes, const DecodeOptions& options,
                                               QString* error = nullptr);

// Splits text into lines at CRLF, LF and CR. A line end at the very end gives no empty line.
QStringList splitLines(const QString& text);

} // namespace kv::subtitles
