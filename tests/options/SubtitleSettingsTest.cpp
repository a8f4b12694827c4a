#include "options/SubtitleSettings.h"

#include "platform/RegistryFileStore.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

using kv::options::SubtitleSettings;
using kv::platform::RegistryFileStore;

namespace {

const QString kOwnKey = QStringLiteral("\\Software\\Kestrovid\\PSP");

QString hexOf(const QByteArray& bytes)
{
    QStringList parts;
    for (char c : bytes)
        parts.append(QStringLiteral("%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0')));
    return QStringLiteral("hex:") + parts.join(u',');
}

QString real(double v)
{
    char bytes[8];
    qToLittleEndian(v, bytes);
    return hexOf(QByteArray(bytes, 8));
}

QString dword(quint32 v)
{
    return QStringLiteral("dword:%1").arg(v, 8, 16, QLatin1Char('0'));
}

QString text(const QString& v)
{
    return u'"' + v + u'"';
}

// Every value of the player's key, in reading order, as an export holds them.
std::vector<std::pair<QString, QString>> fullKey()
{
    return {
        {"FWidth", real(80)},
        {"IQTime", dword(3000)},
        {"IQDziel", dword(0)},
        {"IQZmniejsz", dword(0)},
        {"EFontName", text("Liberation Serif")},
        {"EFontSize", real(30)},
        {"FontColor", dword(0x0000FFFF)},            // blue-green-red: yellow
        {"FontStyle", hexOf(QByteArray("\x02", 1))}, // italic
        {"FontCharset", dword(204)},
        {"EObwodka", real(2)},
        {"IQNapisow", dword(0)},
        {"FontAutoHeight", dword(0)},
        {"FontVol", real(15)},
        {"NapisyCzas", real(6)},
        {"NapisBottom", real(12.5)},
        {"FontType", dword(2)},
        {"CLoadTXT", dword(0)},
        {"DirectoryTXT", text("C:\\\\Napisy")},
        {"AllTXTToMenu", dword(1)},
    };
}

class SettingsFile {
  public:
    // Writes the player's key with the given values; nullopt writes no key at all.
    explicit SettingsFile(const std::optional<std::vector<std::pair<QString, QString>>>& values)
    {
        path_ = QString::fromStdString((dir_ / "registry.reg").string());
        QString out = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n");
        if (values) {
            out += QStringLiteral("[HKEY_CURRENT_USER\\Software\\Quadrell\\Kestroplay]\r\n");
            for (const auto& [name, data] : *values)
                out += u'"' + name + QStringLiteral("\"=") + data + QStringLiteral("\r\n");
        }
        QFile f(path_);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(out.toUtf8());
    }
    const QString& path() const { return path_; }

  private:
    kv::test::TempDir dir_;
    QString path_;
};

std::vector<std::pair<QString, QString>> without(std::vector<std::pair<QString, QString>> values,
                                                 const QString& name)
{
    std::erase_if(values, [&](const auto& v) { return v.first == name; });
    return values;
}

std::vector<std::pair<QString, QString>> replaced(std::vector<std::pair<QString, QString>> values,
                                                  const QString& name, const QString& data)
{
    for (auto& v : values) {
        if (v.first == name)
            v.second = data;
    }
    return values;
}

void expectDefaultFont(const SubtitleSettings& s)
{
    EXPECT_EQ(s.PanelWzor.Font.family(), QStringLiteral("Arial"));
    EXPECT_EQ(s.PanelWzor.Font.pixelSize(), 27);
    EXPECT_EQ(s.PanelWzor.Color, QColor(Qt::white));
    EXPECT_EQ(s.PanelWzor.Charset, 238);
    EXPECT_FALSE(s.PanelWzor.Font.bold() || s.PanelWzor.Font.italic() || s.PanelWzor.Font.underline());
}

TEST(SubtitleSettings, NoKeyKeepsDefaultsAndRegisters)
{
    SettingsFile file(std::nullopt);
    RegistryFileStore store(file.path());
    SubtitleSettings s;
    ASSERT_TRUE(kv::options::runSettingsStartup(s, store, QStringLiteral("/opt/kv/kestrovid"),
                                                QStringLiteral("1.3")));

    expectDefaultFont(s);
    EXPECT_EQ(s.EFontName.Text, QStringLiteral("Arial"));
    EXPECT_EQ(s.EFontSize.Value, 20);
    EXPECT_EQ(s.EObwodka.Value, 4);
    EXPECT_EQ(s.FWidth.Value, 95);
    EXPECT_EQ(s.NapisyCzas.Value, 4);
    EXPECT_EQ(s.NapisyCzas.Tag, 4000);
    EXPECT_EQ(s.CurrentDisplayTime, 4000);
    EXPECT_EQ(s.IQTime.Value, 4000);
    EXPECT_EQ(s.IQTime.MaxValue, 5500);
    EXPECT_TRUE(s.CIQText.Checked && s.CIQDziel.Checked && s.CIQZmniejsz.Checked &&
                s.CSubFontAutoHeight.Checked);
    EXPECT_FALSE(s.CIQAllTXTToMenu.Checked);
    EXPECT_EQ(s.GSubFontType.ItemIndex, 0);
    EXPECT_EQ(s.FontVol.Value, 10);
    EXPECT_EQ(s.NapisBottom.Value, 1);
    EXPECT_EQ(s.DFontColor, QColor(192, 192, 192));

    const RegistryFileStore reread(file.path());
    EXPECT_EQ(reread.readString(kOwnKey, "Name"), QStringLiteral("Kestrovid to PSP"));
    EXPECT_EQ(reread.readString(kOwnKey, "ShortName"), QStringLiteral("PSP"));
    EXPECT_EQ(reread.readString(kOwnKey, "Path"), QStringLiteral("/opt/kv/kestrovid"));
    EXPECT_EQ(reread.readString(kOwnKey, "Version"), QStringLiteral("1.3"));
    EXPECT_FALSE(reread.keyExists(QStringLiteral("\\Software\\Quadrell\\Kestroplay")))
        << "the player's key is never written";
}

TEST(SubtitleSettings, FullKeyAppliesEveryValueAndAssemblesTheFont)
{
    SettingsFile file(fullKey());
    RegistryFileStore store(file.path());
    SubtitleSettings s;
    EXPECT_EQ(s.readFromStore(store), 19);

    EXPECT_EQ(s.FWidth.Value, 80);
    EXPECT_EQ(s.IQTime.Value, 3000);
    EXPECT_FALSE(s.CIQDziel.Checked);
    EXPECT_FALSE(s.CIQZmniejsz.Checked);
    EXPECT_EQ(s.EObwodka.Value, 2);
    EXPECT_EQ(s.SampleOutlineWidth, 2);
    EXPECT_FALSE(s.CIQText.Checked);
    EXPECT_FALSE(s.CSubFontAutoHeight.Checked);
    EXPECT_EQ(s.FontVol.Value, 15);
    EXPECT_EQ(s.NapisyCzas.Tag, 6000);
    EXPECT_EQ(s.CurrentDisplayTime, 6000);
    EXPECT_EQ(s.NapisBottom.Value, 12.5);
    EXPECT_EQ(s.GSubFontType.ItemIndex, 2);
    EXPECT_FALSE(s.CIQLoadTXT.Checked);
    EXPECT_EQ(s.DirectoryTXT.Text, QStringLiteral("C:\\Napisy"));
    EXPECT_TRUE(s.CIQAllTXTToMenu.Checked);

    // The effective font: face, size (30 pt = 40 px), colour from blue-green-red, charset, style.
    EXPECT_EQ(s.PanelWzor.Font.family(), QStringLiteral("Liberation Serif"));
    EXPECT_EQ(s.PanelWzor.Font.pixelSize(), 40);
    EXPECT_EQ(s.PanelWzor.Color, QColor(255, 255, 0));
    EXPECT_EQ(s.PanelWzor.Charset, 204);
    EXPECT_TRUE(s.PanelWzor.Font.italic());
    EXPECT_FALSE(s.PanelWzor.Font.bold());
    EXPECT_EQ(s.SampleShapeColor, QColor(255, 255, 0));
}

TEST(SubtitleSettings, OnlyFWidthAndIQTime)
{
    SettingsFile file(
        std::vector<std::pair<QString, QString>>{{"FWidth", real(70)}, {"IQTime", dword(5000)}});
    RegistryFileStore store(file.path());
    SubtitleSettings s;
    EXPECT_EQ(s.readFromStore(store), 2);
    EXPECT_EQ(s.FWidth.Value, 70);
    EXPECT_EQ(s.IQTime.Value, 5000);
    EXPECT_TRUE(s.CIQDziel.Checked);
    EXPECT_EQ(s.EFontName.Text, QStringLiteral("Arial"));
    expectDefaultFont(s);
}

TEST(SubtitleSettings, MissingFontNameGivesEmptyFaceAndReadingGoesOn)
{
    SettingsFile file(without(fullKey(), "EFontName"));
    RegistryFileStore store(file.path());
    SubtitleSettings s;
    EXPECT_EQ(s.readFromStore(store), 19);
    EXPECT_TRUE(s.EFontName.Text.isEmpty());
    EXPECT_TRUE(s.PanelWzor.Font.family().isEmpty());
    EXPECT_TRUE(s.CIQAllTXTToMenu.Checked) << "the last value was still read";
}

TEST(SubtitleSettings, TwoByteFontStyleStopsBeforeTheFont)
{
    SettingsFile file(replaced(fullKey(), "FontStyle", hexOf(QByteArray("\x01\x00", 2))));
    RegistryFileStore store(file.path());
    SubtitleSettings s;
    EXPECT_EQ(s.readFromStore(store), 7);
    EXPECT_EQ(s.EFontName.Text, QStringLiteral("Liberation Serif")); // read before the stop
    EXPECT_EQ(s.DFontColor, QColor(255, 255, 0));
    // Not assembled: the default face and colour stay, only the size followed EFontSize.
    EXPECT_EQ(s.PanelWzor.Font.family(), QStringLiteral("Arial"));
    EXPECT_EQ(s.PanelWzor.Color, QColor(Qt::white));
    EXPECT_EQ(s.PanelWzor.Font.pixelSize(), 40);
    EXPECT_EQ(s.PanelWzor.Charset, 238);
    EXPECT_EQ(s.EObwodka.Value, 4);
    EXPECT_TRUE(s.CIQText.Checked);
}

// The reading stops at the first missing or mistyped value; what came before stays applied.
TEST(SubtitleSettings, StopsAtFirstMissingOrMistypedValue)
{
    struct Case {
        const char* what;
        std::vector<std::pair<QString, QString>> values;
        int applied;
    };
    const Case cases[] = {
        {"IQTime as text", replaced(fullKey(), "IQTime", text("4000")), 1},
        {"EFontSize as dword", replaced(fullKey(), "EFontSize", dword(20)), 5},
        {"EFontName as dword", replaced(fullKey(), "EFontName", dword(1)), 4},
        {"FWidth of four bytes", replaced(fullKey(), "FWidth", hexOf(QByteArray(4, '\0'))), 0},
        {"FWidth not a number", replaced(fullKey(), "FWidth", real(std::nan(""))), 0},
        {"no EObwodka", without(fullKey(), "EObwodka"), 9},
        {"no FontStyle", without(fullKey(), "FontStyle"), 19},
        {"DirectoryTXT as binary", replaced(fullKey(), "DirectoryTXT", hexOf("C:")), 17},
    };
    for (const Case& c : cases) {
        SettingsFile file(c.values);
        RegistryFileStore store(file.path());
        SubtitleSettings s;
        EXPECT_EQ(s.readFromStore(store), c.applied) << c.what;
    }
}

TEST(SubtitleSettings, ValuesOutsideTheControlsRangeAreClamped)
{
    SettingsFile file(replaced(replaced(replaced(fullKey(), "FWidth", real(250)), "IQTime", dword(100)),
                               "FontType", dword(9)));
    RegistryFileStore store(file.path());
    SubtitleSettings s;
    s.readFromStore(store);
    EXPECT_EQ(s.FWidth.Value, 99);
    EXPECT_EQ(s.IQTime.Value, 2500);
    EXPECT_EQ(s.GSubFontType.ItemIndex, 3);
}

TEST(SubtitleSettings, ChangeHandlersRunOnlyOnRealChanges)
{
    SubtitleSettings s;
    s.CurrentDisplayTime = 1234; // as if the reading-time rule had set it
    s.setNapisyCzas(4);          // unchanged: no handler
    EXPECT_EQ(s.CurrentDisplayTime, 1234);
    s.setNapisyCzas(7);
    EXPECT_EQ(s.NapisyCzas.Tag, 7000);
    EXPECT_EQ(s.CurrentDisplayTime, 7000);
    s.setNapisyCzas(2.5);
    EXPECT_EQ(s.NapisyCzas.Tag, 2500);

    s.setEFontSize(12.9); // integer part: 12 pt = 16 px
    EXPECT_EQ(s.PanelWzor.Font.pixelSize(), 16);
    EXPECT_EQ(s.FontDialog.Font.pixelSize(), 16);
    s.setEFontSize(500);
    EXPECT_EQ(s.EFontSize.Value, 99);

    s.setEObwodka(6);
    EXPECT_EQ(s.SampleOutlineWidth, 6);
}

TEST(SubtitleSettings, UnwritableRegistrationIsReported)
{
    // The store's folder is a file: nothing can be written there, not even by root.
    kv::test::TempDir dir;
    QFile blocker(QString::fromStdString((dir / "blocker").string()));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RegistryFileStore store(QString::fromStdString((dir / "blocker" / "registry.reg").string()));
    SubtitleSettings s;
    EXPECT_FALSE(kv::options::runSettingsStartup(s, store, QStringLiteral("/x"), QStringLiteral("1.3")));
    expectDefaultFont(s);
}

} // namespace
