#include "platform/RegistryFileStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdlib>

namespace kv::platform {

namespace {

enum class Encoding { Utf8, Utf16LE, Utf16BE };

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";

struct Line {
    QByteArray raw; // the line's bytes in the file, terminator included
    QString text;   // decoded, without terminator
    bool terminated = false;
};

struct Value {
    QString name; // as written (empty for the default value "@")
    ValueType type = ValueType::Other;
    QString text;
    std::int32_t dword = 0;
    QByteArray bytes;
    int firstLine = 0;
    int lastLine = 0;
};

struct Section {
    QString key; // relative to HKEY_CURRENT_USER, lower case, no outer backslashes
    bool currentUser = false;
    bool deletion = false;
    int lastContentLine = 0; // header or last non-blank line of the section
    std::vector<Value> values;
};

QString normaliseKey(QString key)
{
    while (key.startsWith(u'\\'))
        key.remove(0, 1);
    while (key.endsWith(u'\\'))
        key.chop(1);
    return key.toLower();
}

QString decode(const QByteArray& bytes, Encoding enc)
{
    if (enc == Encoding::Utf8)
        return QString::fromUtf8(bytes);
    QString out;
    out.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(bytes[enc == Encoding::Utf16LE ? i : i + 1]);
        const auto hi = static_cast<unsigned char>(bytes[enc == Encoding::Utf16LE ? i + 1 : i]);
        out.append(QChar(static_cast<char16_t>(lo | (hi << 8))));
    }
    return out;
}

QByteArray encode(const QString& text, Encoding enc)
{
    if (enc == Encoding::Utf8)
        return text.toUtf8();
    QByteArray out;
    out.reserve(text.size() * 2);
    for (QChar c : text) {
        const char lo = static_cast<char>(c.unicode() & 0xFF);
        const char hi = static_cast<char>(c.unicode() >> 8);
        if (enc == Encoding::Utf16LE) {
            out.append(lo);
            out.append(hi);
        } else {
            out.append(hi);
            out.append(lo);
        }
    }
    return out;
}

// A quoted string with \" and \\ escapes starting at pos (on the opening quote). Returns the
// position after the closing quote, or -1 when the string is not closed.
qsizetype readQuoted(const QString& s, qsizetype pos, QString& out)
{
    out.clear();
    for (qsizetype i = pos + 1; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'"' || s[i + 1] == u'\\')) {
            out.append(s[++i]);
        } else if (c == u'"') {
            return i + 1;
        } else {
            out.append(c);
        }
    }
    return -1;
}

QString quote(const QString& s)
{
    QString out = QStringLiteral("\"");
    for (QChar c : s) {
        if (c == u'"' || c == u'\\')
            out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

bool parseHexBytes(const QString& list, QByteArray& out)
{
    out.clear();
    QString trimmed = list.trimmed();
    if (trimmed.endsWith(u','))
        trimmed.chop(1); // the last line of a long value that was never continued
    if (trimmed.isEmpty())
        return true;
    for (const QString& piece : trimmed.split(u',')) {
        bool ok = false;
        const QString t = piece.trimmed();
        const uint b = t.toUInt(&ok, 16);
        if (!ok || t.size() > 2 || b > 0xFF)
            return false;
        out.append(static_cast<char>(b));
    }
    return true;
}

// Fills type and payload from the text after "=".
void parseData(const QString& data, Value& v)
{
    v.type = ValueType::Other;
    if (data.startsWith(u'"')) {
        QString text;
        const qsizetype end = readQuoted(data, 0, text);
        if (end > 0 && data.mid(end).trimmed().isEmpty()) {
            v.type = ValueType::String;
            v.text = text;
        }
        return;
    }
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        bool ok = false;
        const QString digits = data.mid(6).trimmed();
        const uint n = digits.toUInt(&ok, 16);
        if (ok && !digits.isEmpty() && digits.size() <= 8) {
            v.type = ValueType::DWord;
            v.dword = static_cast<std::int32_t>(n);
        }
        return;
    }
    if (!data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive))
        return;
    const qsizetype colon = data.indexOf(u':');
    if (colon < 0)
        return;
    int kind = 3; // plain "hex:" is REG_BINARY
    const QString tag = data.left(colon).trimmed();
    if (tag.size() > 3) {
        if (!tag.startsWith(QLatin1String("hex("), Qt::CaseInsensitive) || !tag.endsWith(u')'))
            return;
        bool ok = false;
        kind = tag.mid(4, tag.size() - 5).toInt(&ok, 16);
        if (!ok)
            return;
    }
    QByteArray bytes;
    if (!parseHexBytes(data.mid(colon + 1), bytes))
        return;
    switch (kind) {
    case 3:
        v.type = ValueType::Binary;
        v.bytes = bytes;
        break;
    case 4:
        if (bytes.size() == 4) {
            v.type = ValueType::DWord;
            v.dword = static_cast<std::int32_t>(
                static_cast<unsigned char>(bytes[0]) | (static_cast<unsigned char>(bytes[1]) << 8) |
                (static_cast<unsigned char>(bytes[2]) << 16) |
                (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3])) << 24));
        }
        break;
    case 1:
    case 2: { // REG_SZ / REG_EXPAND_SZ as UTF-16LE with a terminating zero
        QString text = decode(bytes, Encoding::Utf16LE);
        while (text.endsWith(QChar(0)))
            text.chop(1);
        v.type = ValueType::String;
        v.text = text;
        break;
    }
    default:
        break;
    }
}

} // namespace

struct RegistryFileStore::Document {
    Encoding encoding = Encoding::Utf8;
    QByteArray bom;
    QByteArray eol = "\r\n";
    std::vector<Line> lines;
    std::vector<Section> sections;

    static Document fromBytes(const QByteArray& data)
    {
        Document doc;
        qsizetype pos = 0;
        if (data.startsWith("\xEF\xBB\xBF")) {
            doc.bom = data.left(3);
        } else if (data.startsWith("\xFF\xFE")) {
            doc.encoding = Encoding::Utf16LE;
            doc.bom = data.left(2);
        } else if (data.startsWith("\xFE\xFF")) {
            doc.encoding = Encoding::Utf16BE;
            doc.bom = data.left(2);
        }
        pos = doc.bom.size();
        const int unit = doc.encoding == Encoding::Utf8 ? 1 : 2;
        const int lfAt = doc.encoding == Encoding::Utf16BE ? 1 : 0; // byte holding '\n'
        bool eolSeen = false;
        while (pos < data.size()) {
            qsizetype end = pos;
            while (end + unit <= data.size()) {
                const bool isLf = data[end + lfAt] == '\n' && (unit == 1 || data[end + 1 - lfAt] == 0);
                end += unit;
                if (isLf)
                    break;
            }
            if (end + unit > data.size())
                end = data.size(); // keep a trailing odd byte with the last line
            Line line;
            line.raw = data.mid(pos, end - pos);
            line.text = decode(line.raw, doc.encoding);
            if (line.text.endsWith(u'\n')) {
                line.terminated = true;
                line.text.chop(1);
                const bool crlf = line.text.endsWith(u'\r');
                if (crlf)
                    line.text.chop(1);
                if (!eolSeen) {
                    doc.eol = crlf ? "\r\n" : "\n";
                    eolSeen = true;
                }
            }
            doc.lines.push_back(std::move(line));
            pos = end;
        }
        doc.parse();
        return doc;
    }

    QByteArray toBytes() const
    {
        QByteArray out = bom;
        for (const Line& l : lines)
            out.append(l.raw);
        return out;
    }

    Line makeLine(const QString& text) const
    {
        return Line{encode(text, encoding) + encode(QString::fromLatin1(eol), encoding), text, true};
    }

    void terminate(Line& line) const
    {
        if (!line.terminated) {
            line.raw.append(encode(QString::fromLatin1(eol), encoding));
            line.terminated = true;
        }
    }

    void parse()
    {
        sections.clear();
        Section* current = nullptr;
        for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
            const int first = i;
            QString logical = lines[i].text.trimmed();
            if (logical.isEmpty())
                continue;
            if (current && !logical.startsWith(u'['))
                current->lastContentLine = i;
            if (logical.startsWith(u';'))
                continue;
            if (logical.startsWith(u'[')) {
                const qsizetype close = logical.lastIndexOf(u']');
                QString path = logical.mid(1, close > 0 ? close - 1 : -1).trimmed();
                Section s;
                s.deletion = path.startsWith(u'-');
                if (s.deletion)
                    path.remove(0, 1);
                const qsizetype slash = path.indexOf(u'\\');
                const QString hive = slash < 0 ? path : path.left(slash);
                s.currentUser = hive.compare(QLatin1String("HKEY_CURRENT_USER"), Qt::CaseInsensitive) == 0 ||
                                hive.compare(QLatin1String("HKCU"), Qt::CaseInsensitive) == 0;
                s.key = normaliseKey(slash < 0 ? QString() : path.mid(slash + 1));
                s.lastContentLine = i;
                sections.push_back(std::move(s));
                current = &sections.back();
                continue;
            }
            // Long values go on over several lines, each but the last ending with a backslash.
            while (logical.endsWith(u'\\')) {
                logical.chop(1);
                if (i + 1 >= static_cast<int>(lines.size()))
                    break;
                logical.append(lines[++i].text.trimmed());
            }
            if (current)
                current->lastContentLine = i;
            if (!current)
                continue;
            Value v;
            qsizetype afterName = -1;
            if (logical.startsWith(u'@')) {
                afterName = 1;
            } else if (logical.startsWith(u'"')) {
                afterName = readQuoted(logical, 0, v.name);
            }
            if (afterName < 0)
                continue; // not a value line: kept, never read
            const QString rest = logical.mid(afterName).trimmed();
            if (!rest.startsWith(u'='))
                continue;
            const QString data = rest.mid(1).trimmed();
            if (data == QLatin1String("-"))
                continue; // a removal entry of an import file
            parseData(data, v);
            v.firstLine = first;
            v.lastLine = i;
            current->values.push_back(std::move(v));
        }
    }

    bool keyExists(const QString& key) const
    {
        const QString k = normaliseKey(key);
        for (const Section& s : sections) {
            if (s.currentUser && !s.deletion &&
                (s.key == k || k.isEmpty() || s.key.startsWith(k + QLatin1Char('\\'))))
                return true;
        }
        return false;
    }

    // The definition that an import would leave in the registry: the last one.
    const Value* find(const QString& key, const QString& name) const
    {
        const QString k = normaliseKey(key);
        const Value* found = nullptr;
        for (const Section& s : sections) {
            if (!s.currentUser || s.deletion || s.key != k)
                continue;
            for (const Value& v : s.values) {
                if (v.name.compare(name, Qt::CaseInsensitive) == 0)
                    found = &v;
            }
        }
        return found;
    }

    // Puts "name"=dataText into the last section of the key, replacing an earlier line of the
    // same name there, or adds the section at the end of the file.
    void set(const QString& key, const QString& name, const QString& dataText)
    {
        const QString entry = (name.isEmpty() ? QStringLiteral("@") : quote(name)) + u'=' + dataText;
        const QString k = normaliseKey(key);
        if (lines.empty()) {
            lines.push_back(makeLine(QString::fromLatin1(kHeader)));
            lines.push_back(makeLine(QString()));
        }
        Section* target = nullptr;
        for (Section& s : sections) {
            if (s.currentUser && !s.deletion && s.key == k)
                target = &s;
        }
        if (target) {
            for (auto it = target->values.rbegin(); it != target->values.rend(); ++it) {
                if (it->name.compare(name, Qt::CaseInsensitive) == 0) {
                    lines.erase(lines.begin() + it->firstLine + 1, lines.begin() + it->lastLine + 1);
                    lines[it->firstLine] = makeLine(entry);
                    parse();
                    return;
                }
            }
            terminate(lines[target->lastContentLine]);
            lines.insert(lines.begin() + target->lastContentLine + 1, makeLine(entry));
            parse();
            return;
        }
        if (!lines.empty())
            terminate(lines.back());
        if (!lines.empty() && !lines.back().text.trimmed().isEmpty())
            lines.push_back(makeLine(QString()));
        QString path = key;
        while (path.startsWith(u'\\'))
            path.remove(0, 1);
        while (path.endsWith(u'\\'))
            path.chop(1);
        lines.push_back(makeLine(QStringLiteral("[HKEY_CURRENT_USER\\") + path + u']'));
        lines.push_back(makeLine(entry));
        parse();
    }
};

RegistryFileStore::RegistryFileStore(QString filePath)
    : path_(std::move(filePath)), doc_(std::make_unique<Document>())
{
    QFile f(path_);
    if (f.open(QIODevice::ReadOnly))
        *doc_ = Document::fromBytes(f.readAll());
}

RegistryFileStore::~RegistryFileStore() = default;

QString RegistryFileStore::defaultPath()
{
    const QString overridden = qEnvironmentVariable("KESTROVID_REGISTRY");
    if (!overridden.isEmpty())
        return overridden;
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/kestrovid/registry.reg");
}

bool RegistryFileStore::keyExists(const QString& key) const
{
    return doc_->keyExists(key);
}

ValueType RegistryFileStore::valueType(const QString& key, const QString& name) const
{
    const Value* v = doc_->find(key, name);
    return v ? v->type : ValueType::Missing;
}

std::optional<QString> RegistryFileStore::readString(const QString& key, const QString& name) const
{
    const Value* v = doc_->find(key, name);
    if (!v || v->type != ValueType::String)
        return std::nullopt;
    return v->text;
}

std::optional<std::int32_t> RegistryFileStore::readInteger(const QString& key, const QString& name) const
{
    const Value* v = doc_->find(key, name);
    if (!v || v->type != ValueType::DWord)
        return std::nullopt;
    return v->dword;
}

std::optional<QByteArray> RegistryFileStore::readBinary(const QString& key, const QString& name) const
{
    const Value* v = doc_->find(key, name);
    if (!v || v->type != ValueType::Binary)
        return std::nullopt;
    return v->bytes;
}

bool RegistryFileStore::writeString(const QString& key, const QString& name, const QString& value)
{
    return write(key, name, quote(value));
}

bool RegistryFileStore::writeInteger(const QString& key, const QString& name, std::int32_t value)
{
    return write(key, name,
                 QStringLiteral("dword:%1").arg(static_cast<std::uint32_t>(value), 8, 16, QLatin1Char('0')));
}

bool RegistryFileStore::writeBinary(const QString& key, const QString& name, const QByteArray& value)
{
    QStringList bytes;
    bytes.reserve(value.size());
    for (char c : value)
        bytes.append(QStringLiteral("%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0')));
    return write(key, name, QStringLiteral("hex:") + bytes.join(u','));
}

bool RegistryFileStore::write(const QString& key, const QString& name, const QString& dataText)
{
    lastError_.clear();
    // Start from the file as it is now: another program may have changed it since we read it.
    Document doc;
    QFile current(path_);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly)) {
            lastError_ = QStringLiteral("Cannot read %1: %2").arg(path_, current.errorString());
            return false;
        }
        doc = Document::fromBytes(current.readAll());
        current.close();
    }
    doc.set(key, name, dataText);

    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        lastError_ = QStringLiteral("Cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly)) {
        lastError_ = QStringLiteral("Cannot write %1: %2").arg(path_, out.errorString());
        return false;
    }
    const QByteArray bytes = doc.toBytes();
    if (out.write(bytes) != bytes.size() || !out.commit()) {
        lastError_ = QStringLiteral("Cannot write %1: %2").arg(path_, out.errorString());
        return false;
    }
    *doc_ = std::move(doc);
    return true;
}

std::unique_ptr<ISettingsStore> openUserSettingsStore()
{
    return std::make_unique<RegistryFileStore>(RegistryFileStore::defaultPath());
}

} // namespace kv::platform
