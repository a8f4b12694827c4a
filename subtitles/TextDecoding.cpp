#include "subtitles/TextDecoding.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace kv::subtitles {

namespace {

// Owns one iconv conversion descriptor.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (valid())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

QString primaryLanguage(const QString& language, QString* region)
{
    QString lang = language.toLower();
    for (QChar stop : {u'.', u'@'}) {
        const qsizetype at = lang.indexOf(stop);
        if (at >= 0)
            lang.truncate(at);
    }
    const qsizetype sep = lang.indexOf(QRegularExpression(QStringLiteral("[_-]")));
    if (region)
        *region = sep >= 0 ? lang.mid(sep + 1) : QString();
    return sep >= 0 ? lang.left(sep) : lang;
}

} // namespace

QString legacyCodePageFor(const QString& language)
{
    QString region;
    const QString lang = primaryLanguage(language, &region);
    static const struct {
        const char* page;
        std::initializer_list<const char*> languages;
    } table[] = {
        {"WINDOWS-1250", {"pl", "cs", "sk", "hu", "sl", "hr", "ro", "sq", "bs"}},
        {"WINDOWS-1251", {"ru", "uk", "be", "bg", "sr", "mk", "kk", "ky", "tt", "mn", "ba"}},
        {"WINDOWS-1253", {"el"}},
        {"WINDOWS-1254", {"tr", "az"}},
        {"WINDOWS-1255", {"he", "yi"}},
        {"WINDOWS-1256", {"ar", "fa", "ur"}},
        {"WINDOWS-1257", {"lt", "lv", "et"}},
        {"WINDOWS-1258", {"vi"}},
        {"CP874", {"th"}},
        {"CP932", {"ja"}},
        {"CP949", {"ko"}},
    };
    for (const auto& row : table) {
        for (const char* l : row.languages) {
            if (lang == QLatin1String(l))
                return QLatin1String(row.page);
        }
    }
    if (lang == QLatin1String("zh"))
        return (region == QLatin1String("tw") || region == QLatin1String("hk") ||
                region == QLatin1String("mo"))
                   ? QStringLiteral("CP950")
                   : QStringLiteral("CP936");
    return QStringLiteral("WINDOWS-1252");
}

QString systemLanguage()
{
    return QLocale::system().name();
}

bool isValidUtf8(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        std::uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::optional<QString> decodeWith(const QByteArray& bytes, const QString& encoding)
{
    const QByteArray name = encoding.toLatin1();
    Iconv cd("UTF-8", name.constData());
    if (!cd.valid())
        return std::nullopt;
    QByteArray out;
    out.resize(bytes.size() * 2 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    qsizetype written = 0;
    static const char replacement[] = "\xEF\xBF\xBD";
    while (inLeft > 0) {
        char* outPtr = out.data() + written;
        size_t outLeft = static_cast<size_t>(out.size() - written);
        const size_t rc = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        written = outPtr - out.data();
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (errno == EILSEQ || errno == EINVAL) {
            // A byte the code page does not define, or a sequence cut off at the end.
            if (out.size() - written < 3)
                out.resize(out.size() * 2);
            memcpy(out.data() + written, replacement, 3);
            written += 3;
            ++in;
            --inLeft;
        } else {
            break;
        }
    }
    out.truncate(written);
    return QString::fromUtf8(out);
}

std::optional<DecodedText> decodeSubtitleBytes(const QByteArray& bytes, const DecodeOptions& options,
                                               QString* error)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return DecodedText{QString::fromUtf8(bytes.mid(3)), QStringLiteral("UTF-8 (byte-order mark)")};
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder dec(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        return DecodedText{dec.decode(bytes.mid(2)), QStringLiteral("UTF-16LE (byte-order mark)")};
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder dec(QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless);
        return DecodedText{dec.decode(bytes.mid(2)), QStringLiteral("UTF-16BE (byte-order mark)")};
    }
    QString forced = options.encodingOverride.trimmed();
    if (forced.isEmpty())
        forced = qEnvironmentVariable("KESTROVID_SUBTITLE_ENCODING").trimmed();
    if (!forced.isEmpty()) {
        auto text = decodeWith(bytes, forced);
        if (!text) {
            if (error)
                *error = QStringLiteral("Unknown text encoding \"%1\"").arg(forced);
            return std::nullopt;
        }
        return DecodedText{*text, forced};
    }
    if (isValidUtf8(bytes))
        return DecodedText{QString::fromUtf8(bytes), QStringLiteral("UTF-8")};
    const QString page = legacyCodePageFor(options.language.isEmpty() ? systemLanguage() : options.language);
    auto text = decodeWith(bytes, page);
    if (!text) // every glibc knows the Windows code pages; keep going with the Latin one
        text = decodeWith(bytes, QStringLiteral("WINDOWS-1252"));
    return DecodedText{text.value_or(QString::fromLatin1(bytes)), page};
}

QStringList splitLines(const QString& text)
{
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

} // namespace kv::subtitles
