#include "options/SubtitleSettings.h"

#include "platform/Product.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv::options {

using platform::ISettingsStore;

int pointsToPixels(int points)
{
    // MulDiv(points, 96, 72): rounded to the nearest pixel, halves away from zero.
    const long long scaled = static_cast<long long>(points) * 96;
    return static_cast<int>(scaled >= 0 ? (scaled + 36) / 72 : (scaled - 36) / 72);
}

void applyStyleBits(QFont& font, std::uint8_t bits)
{
    font.setBold((bits & StyleBold) != 0);
    font.setItalic((bits & StyleItalic) != 0);
    font.setUnderline((bits & StyleUnderline) != 0);
    font.setStrikeOut((bits & StyleStrikeOut) != 0);
}

SubtitleSettings::SubtitleSettings()
{
    FontDialog.Font = QFont(QStringLiteral("Arial"));
    FontDialog.Font.setPixelSize(27);
    FontDialog.Font.setBold(true);
    FontDialog.Color = Qt::black;

    PanelWzor.Font = QFont(QStringLiteral("Arial"));
    PanelWzor.Font.setPixelSize(27);
    PanelWzor.Color = Qt::white;
}

namespace {

// Keeps a spin edit's value in range; returns true when it changed.
bool setSpin(SpinEdit& spin, double value)
{
    const double clamped = std::clamp(value, spin.MinValue, spin.MaxValue);
    if (clamped == spin.Value)
        return false;
    spin.Value = clamped;
    return true;
}

} // namespace

void SubtitleSettings::setEFontSize(double value)
{
    if (setSpin(EFontSize, value))
        EFontSizeChange();
}

void SubtitleSettings::setNapisyCzas(double value)
{
    if (setSpin(NapisyCzas, value))
        NapisyCzasChange();
}

void SubtitleSettings::setEObwodka(double value)
{
    if (setSpin(EObwodka, value))
        EObwodkaChange();
}

void SubtitleSettings::EFontSizeChange()
{
    const int pixels = pointsToPixels(static_cast<int>(EFontSize.Value));
    FontDialog.Font.setPixelSize(pixels);
    PanelWzor.Font.setPixelSize(pixels);
}

void SubtitleSettings::NapisyCzasChange()
{
    NapisyCzas.Tag = static_cast<std::int64_t>(NapisyCzas.Value * 1000.0);
    CurrentDisplayTime = NapisyCzas.Tag;
}

void SubtitleSettings::EObwodkaChange()
{
    SampleOutlineWidth = static_cast<int>(EObwodka.Value);
}

void SubtitleSettings::assembleFont(int charset, std::uint8_t styleBits)
{
    FontDialog.Charset = charset;
    FontDialog.Color = DFontColor;
    FontDialog.Font.setFamily(EFontName.Text);
    FontDialog.Font.setPixelSize(pointsToPixels(static_cast<int>(EFontSize.Value)));
    applyStyleBits(FontDialog.Font, styleBits);
    PanelWzor = FontDialog;
    SampleShapeColor = DFontColor;
}

namespace {

// One reading step; false ends the reading.
class Reader {
  public:
    Reader(const ISettingsStore& store, QString key) : store_(store), key_(std::move(key)) {}

    std::optional<double> real(const char* name) const
    {
        const auto bytes = store_.readBinary(key_, QLatin1String(name));
        if (!bytes || bytes->size() != static_cast<qsizetype>(sizeof(double)))
            return std::nullopt;
        const double value = qFromLittleEndian<double>(bytes->constData());
        // A stored NaN or infinity is no usable setting: treated like a mistyped value.
        if (!std::isfinite(value))
            return std::nullopt;
        return value;
    }
    std::optional<std::int32_t> integer(const char* name) const
    {
        return store_.readInteger(key_, QLatin1String(name));
    }
    std::optional<bool> flag(const char* name) const
    {
        const auto v = integer(name);
        return v ? std::optional<bool>(*v != 0) : std::nullopt;
    }
    // A missing text is an empty text; a value of another type ends the reading.
    std::optional<QString> text(const char* name) const
    {
        if (store_.valueType(key_, QLatin1String(name)) == platform::ValueType::Missing)
            return QString();
        return store_.readString(key_, QLatin1String(name));
    }
    // A missing style is no style; more than one byte or another type ends the reading.
    std::optional<std::uint8_t> style(const char* name) const
    {
        if (store_.valueType(key_, QLatin1String(name)) == platform::ValueType::Missing)
            return std::uint8_t{0};
        const auto bytes = store_.readBinary(key_, QLatin1String(name));
        if (!bytes || bytes->size() > 1)
            return std::nullopt;
        return bytes->isEmpty() ? std::uint8_t{0} : static_cast<std::uint8_t>(bytes->at(0));
    }

  private:
    const ISettingsStore& store_;
    QString key_;
};

} // namespace

int SubtitleSettings::readFromStore(const ISettingsStore& store)
{
    const QString key = QLatin1String(platform::kPlayerSettingsKey);
    if (!store.keyExists(key))
        return 0;
    const Reader r(store, key);
    int applied = 0;

    const auto fwidth = r.real("FWidth");
    if (!fwidth)
        return applied;
    setSpin(FWidth, *fwidth);
    ++applied;

    const auto iqTime = r.integer("IQTime");
    if (!iqTime)
        return applied;
    IQTime.Value = std::clamp<int>(*iqTime, IQTime.MinValue, IQTime.MaxValue);
    ++applied;

    const auto dziel = r.flag("IQDziel");
    if (!dziel)
        return applied;
    CIQDziel.Checked = *dziel;
    ++applied;

    const auto zmniejsz = r.flag("IQZmniejsz");
    if (!zmniejsz)
        return applied;
    CIQZmniejsz.Checked = *zmniejsz;
    ++applied;

    const auto fontName = r.text("EFontName");
    if (!fontName)
        return applied;
    EFontName.Text = *fontName;
    ++applied;

    const auto fontSize = r.real("EFontSize");
    if (!fontSize)
        return applied;
    setEFontSize(*fontSize);
    ++applied;

    const auto colour = r.integer("FontColor");
    if (!colour)
        return applied;
    // Stored as 0x00BBGGRR: red in the lowest byte.
    const auto bgr = static_cast<std::uint32_t>(*colour);
    DFontColor = QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
    ++applied;

    const auto style = r.style("FontStyle");
    if (!style)
        return applied;
    ++applied;

    const auto charset = r.integer("FontCharset");
    if (!charset)
        return applied;
    ++applied;
    assembleFont(*charset, *style);

    const auto obwodka = r.real("EObwodka");
    if (!obwodka)
        return applied;
    setEObwodka(*obwodka);
    ++applied;

    const auto iq = r.flag("IQNapisow");
    if (!iq)
        return applied;
    CIQText.Checked = *iq;
    ++applied;

    const auto autoHeight = r.flag("FontAutoHeight");
    if (!autoHeight)
        return applied;
    CSubFontAutoHeight.Checked = *autoHeight;
    ++applied;

    const auto fontVol = r.real("FontVol");
    if (!fontVol)
        return applied;
    setSpin(FontVol, *fontVol);
    ++applied;

    const auto czas = r.real("NapisyCzas");
    if (!czas)
        return applied;
    setNapisyCzas(*czas);
    ++applied;

    const auto bottom = r.real("NapisBottom");
    if (!bottom)
        return applied;
    setSpin(NapisBottom, *bottom);
    ++applied;

    const auto fontType = r.integer("FontType");
    if (!fontType)
        return applied;
    GSubFontType.ItemIndex = std::clamp<int>(*fontType, 0, GSubFontType.ItemCount - 1);
    ++applied;

    const auto loadTxt = r.flag("CLoadTXT");
    if (!loadTxt)
        return applied;
    CIQLoadTXT.Checked = *loadTxt;
    ++applied;

    const auto directory = r.text("DirectoryTXT");
    if (!directory)
        return applied;
    DirectoryTXT.Text = *directory;
    ++applied;

    const auto allToMenu = r.flag("AllTXTToMenu");
    if (!allToMenu)
        return applied;
    CIQAllTXTToMenu.Checked = *allToMenu;
    ++applied;
    return applied;
}

bool writeRegistration(ISettingsStore& store, const QString& executablePath, const QString& versionText)
{
    const QString key = QLatin1String(platform::kRegistrationKey);
    return store.writeString(key, QStringLiteral("Name"), QLatin1String(platform::kProgramName)) &&
           store.writeString(key, QStringLiteral("ShortName"), QLatin1String(platform::kProgramShortName)) &&
           store.writeString(key, QStringLiteral("Path"), executablePath) &&
           store.writeString(key, QStringLiteral("Version"), versionText);
}

bool runSettingsStartup(SubtitleSettings& settings, ISettingsStore& store, const QString& executablePath,
                        const QString& versionText)
{
    settings.readFromStore(store);
    return writeRegistration(store, executablePath, versionText);
}

} // namespace kv::options
