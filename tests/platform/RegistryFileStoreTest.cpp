#include "platform/RegistryFileStore.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdlib>

using kv::platform::RegistryFileStore;
using kv::platform::ValueType;

namespace {

const QString kPlayerKey = QStringLiteral("\\Software\\Quadrell\\Kestroplay\\");
const QString kOwnKey = QStringLiteral("\\Software\\Kestrovid\\PSP");

// An export as a user would paste it: mixed case, escapes, a hex value over two lines.
const char kExport[] = "Windows Registry Editor Version 5.00\r\n"
                       "\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Quadrell\\Kestroplay]\r\n"
                       "\"EFontName\"=\"Say \\\"Hi\\\" C:\\\\Fonts\"\r\n"
                       "\"IQTime\"=dword:0000001b\r\n"
                       "\"Negative\"=dword:ffffffff\r\n"
                       "\"FWidth\"=hex:00,00,00,00,00,c0,57,\\\r\n"
                       "  40\r\n"
                       "\"Empty\"=hex:\r\n"
                       "\"Multi\"=hex(7):41,00,00,00,00,00\r\n"
                       "@=\"default\"\r\n"
                       "\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Quadrell\\Kestroplay\\Sub]\r\n"
                       "\"Inner\"=dword:00000001\r\n";

QByteArray toUtf16Le(const QByteArray& utf8)
{
    QByteArray out("\xFF\xFE", 2);
    const QString text = QString::fromUtf8(utf8);
    for (QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}

QByteArray readAll(const std::filesystem::path& p)
{
    QFile f(QString::fromStdString(p.string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const std::filesystem::path& p, const QByteArray& bytes)
{
    QFile f(QString::fromStdString(p.string()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QString qpath(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

struct EncodingCase {
    const char* name;
    QByteArray bytes;
};

class RegistryReadTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(RegistryReadTest, ReadsTypedValuesOfAnExport)
{
    kv::test::TempDir dir;
    writeAll(dir / "registry.reg", GetParam().bytes);
    const RegistryFileStore store(qpath(dir / "registry.reg"));

    EXPECT_TRUE(store.keyExists(kPlayerKey));
    EXPECT_TRUE(store.keyExists(QStringLiteral("\\SOFTWARE\\quadrell"))) << "a parent of a stored key exists";
    EXPECT_FALSE(store.keyExists(kOwnKey));

    // Key and value names compare without regard to case, as in the registry.
    EXPECT_EQ(
        store.readString(QStringLiteral("\\software\\QUADRELL\\kestroplay"), QStringLiteral("efontname")),
        QStringLiteral("Say \"Hi\" C:\\Fonts"));
    EXPECT_EQ(store.readInteger(kPlayerKey, QStringLiteral("IQTime")), 27);
    EXPECT_EQ(store.readInteger(kPlayerKey, QStringLiteral("Negative")), -1);
    EXPECT_EQ(store.readBinary(kPlayerKey, QStringLiteral("FWidth")),
              QByteArray::fromHex("0000000000c05740")); // 95.0 as a double
    EXPECT_EQ(store.readBinary(kPlayerKey, QStringLiteral("Empty")), QByteArray());
    EXPECT_EQ(store.readString(kPlayerKey, QString()), QStringLiteral("default"));
    EXPECT_EQ(store.readInteger(kPlayerKey + QStringLiteral("Sub"), QStringLiteral("Inner")), 1);

    // Missing and wrong type stay apart.
    EXPECT_EQ(store.valueType(kPlayerKey, QStringLiteral("Nothing")), ValueType::Missing);
    EXPECT_EQ(store.valueType(kPlayerKey, QStringLiteral("Multi")), ValueType::Other);
    EXPECT_EQ(store.valueType(kPlayerKey, QStringLiteral("IQTime")), ValueType::DWord);
    EXPECT_FALSE(store.readString(kPlayerKey, QStringLiteral("IQTime")));
    EXPECT_FALSE(store.readInteger(kPlayerKey, QStringLiteral("FWidth")));
    EXPECT_FALSE(store.readBinary(kPlayerKey, QStringLiteral("EFontName")));
}

INSTANTIATE_TEST_SUITE_P(Encodings, RegistryReadTest,
                         ::testing::Values(EncodingCase{"Utf16LeBom", toUtf16Le(kExport)},
                                           EncodingCase{"Utf8", QByteArray(kExport)},
                                           EncodingCase{"Utf8Bom", QByteArray("\xEF\xBB\xBF") + kExport},
                                           EncodingCase{"Utf8Lf", QByteArray(kExport).replace("\r\n", "\n")}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryFileStore, MissingFileIsEmptyAndFirstWriteCreatesIt)
{
    kv::test::TempDir dir;
    const auto file = dir / "sub" / "dir" / "registry.reg";
    RegistryFileStore store(qpath(file));
    EXPECT_FALSE(store.keyExists(kOwnKey));
    EXPECT_EQ(store.valueType(kOwnKey, QStringLiteral("Name")), ValueType::Missing);

    ASSERT_TRUE(store.writeString(kOwnKey, QStringLiteral("Path"), QStringLiteral("C:\\a \"b\"")));
    ASSERT_TRUE(store.writeInteger(kOwnKey, QStringLiteral("Count"), -2));
    ASSERT_TRUE(store.writeBinary(kOwnKey, QStringLiteral("Raw"), QByteArray::fromHex("00ff10")));
    EXPECT_EQ(QString::fromUtf8(readAll(file)),
              QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Kestrovid\\PSP]\r\n"
                             "\"Path\"=\"C:\\\\a \\\"b\\\"\"\r\n"
                             "\"Count\"=dword:fffffffe\r\n"
                             "\"Raw\"=hex:00,ff,10\r\n"));

    const RegistryFileStore reread(qpath(file));
    EXPECT_EQ(reread.readString(kOwnKey, QStringLiteral("path")), QStringLiteral("C:\\a \"b\""));
    EXPECT_EQ(reread.readInteger(kOwnKey, QStringLiteral("Count")), -2);
    EXPECT_EQ(reread.readBinary(kOwnKey, QStringLiteral("Raw")), QByteArray::fromHex("00ff10"));
}

// Foreign keys, comments and even bytes that are not valid text survive a rewrite unchanged.
TEST(RegistryFileStore, RewriteKeepsForeignBytesAndIsAtomic)
{
    kv::test::TempDir dir;
    const auto file = dir / "registry.reg";
    const QByteArray foreign = "Windows Registry Editor Version 5.00\n"
                               "; kept comment\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                               "\"Odd\"=\"\xC3\x28 not utf-8\"   \n"
                               "\n"
                               "[HKEY_CURRENT_USER\\Software\\Kestrovid\\PSP]\n"
                               "\"Version\"=\"1.0\"\n"
                               "\"Foreign\"=hex:01,\\\n"
                               "  02\n"
                               "\n"
                               "[HKEY_CURRENT_USER\\Software\\Someone]\n"
                               "\"X\"=dword:00000001"; // no final line end
    writeAll(file, foreign);

    RegistryFileStore store(qpath(file));
    ASSERT_TRUE(store.writeString(kOwnKey, QStringLiteral("VERSION"), QStringLiteral("1.3")));
    ASSERT_TRUE(store.writeString(kOwnKey, QStringLiteral("Name"), QStringLiteral("Kestrovid to PSP")));
    ASSERT_TRUE(store.writeBinary(kOwnKey, QStringLiteral("Foreign"), QByteArray::fromHex("03")));

    QByteArray expected = foreign;
    expected.replace("\"Version\"=\"1.0\"\n", "\"VERSION\"=\"1.3\"\n");
    expected.replace("\"Foreign\"=hex:01,\\\n  02\n", "\"Foreign\"=hex:03\n\"Name\"=\"Kestrovid to PSP\"\n");
    EXPECT_EQ(readAll(file).toStdString(), expected.toStdString());

    // A new key goes to the end; the unterminated last line gets its line end, nothing else.
    ASSERT_TRUE(store.writeInteger(QStringLiteral("\\Software\\Kestrovid\\Other"), QStringLiteral("N"), 5));
    EXPECT_EQ(readAll(file).toStdString(),
              (expected + "\n\n[HKEY_CURRENT_USER\\Software\\Kestrovid\\Other]\n\"N\"=dword:00000005\n")
                  .toStdString());

    // No temporary files are left behind.
    EXPECT_EQ(QDir(qpath(dir.path())).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(RegistryFileStore, Utf16FileStaysUtf16AndKeepsForeignBytes)
{
    kv::test::TempDir dir;
    const auto file = dir / "registry.reg";
    const QByteArray original = toUtf16Le(kExport);
    writeAll(file, original);

    RegistryFileStore store(qpath(file));
    ASSERT_TRUE(store.writeString(kOwnKey, QStringLiteral("Name"), QStringLiteral("Zażółć")));
    const QByteArray after = readAll(file);
    EXPECT_TRUE(after.startsWith(original)) << "the player's key keeps its bytes";
    EXPECT_EQ(
        after.mid(original.size()),
        toUtf16Le("\r\n[HKEY_CURRENT_USER\\Software\\Kestrovid\\PSP]\r\n\"Name\"=\"Zażółć\"\r\n").mid(2));
    EXPECT_EQ(RegistryFileStore(qpath(file)).readString(kOwnKey, QStringLiteral("Name")),
              QStringLiteral("Zażółć"));
}

// A write re-reads the file first, so a change made by someone else meanwhile is kept.
TEST(RegistryFileStore, WriteDoesNotUndoChangesMadeSinceReading)
{
    kv::test::TempDir dir;
    const auto file = dir / "registry.reg";
    RegistryFileStore store(qpath(file));
    ASSERT_TRUE(store.writeInteger(kOwnKey, QStringLiteral("A"), 1));
    RegistryFileStore other(qpath(file));
    ASSERT_TRUE(other.writeInteger(kPlayerKey, QStringLiteral("B"), 2));
    ASSERT_TRUE(store.writeInteger(kOwnKey, QStringLiteral("C"), 3));
    const RegistryFileStore reread(qpath(file));
    EXPECT_EQ(reread.readInteger(kPlayerKey, QStringLiteral("B")), 2);
    EXPECT_EQ(reread.readInteger(kOwnKey, QStringLiteral("A")), 1);
    EXPECT_EQ(store.readInteger(kPlayerKey, QStringLiteral("B")), 2);
}

TEST(RegistryFileStore, UnwritablePlaceMakesWritesFail)
{
    kv::test::TempDir dir;
    // The folder the store should live in is a file: neither root nor anyone else can write there.
    writeAll(dir / "blocker", "x");
    RegistryFileStore store(qpath(dir / "blocker" / "registry.reg"));
    EXPECT_FALSE(store.writeString(kOwnKey, QStringLiteral("Name"), QStringLiteral("x")));
    EXPECT_FALSE(store.lastError().isEmpty());
    EXPECT_EQ(store.valueType(kOwnKey, QStringLiteral("Name")), ValueType::Missing);

    // A store file that is a folder cannot be read nor replaced either.
    std::filesystem::create_directory(dir / "folder.reg");
    RegistryFileStore folder(qpath(dir / "folder.reg"));
    EXPECT_FALSE(folder.writeInteger(kOwnKey, QStringLiteral("N"), 1));
}

TEST(RegistryFileStore, MalformedFileIsReadAsFarAsItMakesSense)
{
    kv::test::TempDir dir;
    const auto file = dir / "registry.reg";
    writeAll(file, "garbage first line\n"
                   "\"Orphan\"=dword:00000001\n"
                   "[HKEY_CURRENT_USER\\Software\\Quadrell\\Kestroplay]\n"
                   "\"Unclosed\"=\"text\n"
                   "\"BadHex\"=hex:0g,11\n"
                   "\"BadDword\"=dword:xyz\n"
                   "no equals sign here\n"
                   "\"Good\"=dword:00000010\n"
                   "\"Trailing\"=hex:01,\\\n"); // continuation at the very end
    const RegistryFileStore store(qpath(file));
    EXPECT_EQ(store.readInteger(kPlayerKey, QStringLiteral("Good")), 16);
    EXPECT_EQ(store.valueType(kPlayerKey, QStringLiteral("Unclosed")), ValueType::Other);
    EXPECT_EQ(store.valueType(kPlayerKey, QStringLiteral("BadHex")), ValueType::Other);
    EXPECT_EQ(store.valueType(kPlayerKey, QStringLiteral("BadDword")), ValueType::Other);
    EXPECT_EQ(store.readBinary(kPlayerKey, QStringLiteral("Trailing")), QByteArray("\x01", 1));
    EXPECT_EQ(store.valueType(QString(), QStringLiteral("Orphan")), ValueType::Missing);
}

TEST(RegistryFileStore, DefaultPathFollowsEnvironment)
{
    const QByteArray oldRegistry = qgetenv("KESTROVID_REGISTRY");
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    const QByteArray oldHome = qgetenv("HOME");

    qputenv("KESTROVID_REGISTRY", "/tmp/custom.reg");
    EXPECT_EQ(RegistryFileStore::defaultPath(), QStringLiteral("/tmp/custom.reg"));
    qunsetenv("KESTROVID_REGISTRY");
    qputenv("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(RegistryFileStore::defaultPath(), QStringLiteral("/xdg/kestrovid/registry.reg"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/someone");
    EXPECT_EQ(RegistryFileStore::defaultPath(),
              QDir::homePath() + QStringLiteral("/.config/kestrovid/registry.reg"));

    auto restore = [](const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("KESTROVID_REGISTRY", oldRegistry);
    restore("XDG_CONFIG_HOME", oldXdg);
    restore("HOME", oldHome);
}

} // namespace
