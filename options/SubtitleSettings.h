#pragma once
// The subtitle settings: one member per control of the options holder, named as the control.
// They are read once at start from the sibling player's key and never written back.
//
// Readers: the scheduler reads CIQText.Checked, IQTime.Value / IQTime.MaxValue and
// NapisyCzas.Tag; the renderer reads the font in PanelWzor and the size, outline, width,
// position and background settings.
#include "platform/SettingsStore.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>

namespace kv::options {

// A spin edit: a floating-point value kept inside its range.
struct SpinEdit {
    double Value;
    double MinValue;
    double MaxValue;
    std::int64_t Tag = 0; // free slot of the control; NapisyCzas keeps its time in ms here
};

// The IQ slider: an integer position inside its range.
struct Slider {
    int Value;
    int MinValue;
    int MaxValue;
};

struct CheckBox {
    bool Checked;
};

struct TextEdit {
    QString Text;
};

struct RadioGroup {
    int ItemIndex;
    int ItemCount;
};

// A font as the window system describes it: face, pixel height, colour, character set and
// style. Sizes in points are held as pixels at 96 dots per inch.
struct SubtitleFont {
    QFont Font;
    QColor Color;
    int Charset = 238; // East-European
};

// Font style bits of the stored "FontStyle" byte.
enum FontStyleBits : std::uint8_t { StyleBold = 1, StyleItalic = 2, StyleUnderline = 4, StyleStrikeOut = 8 };

// Pixel height of a font of `points` points on a 96-dpi screen (rounded, as the window system does).
int pointsToPixels(int points);

// Applies the style bits to a font (bold, italic, underline, strike-out; all cleared first).
void applyStyleBits(QFont& font, std::uint8_t bits);

class SubtitleSettings {
  public:
    SubtitleSettings();

    TextEdit EFontName{QStringLiteral("Arial")};
    SpinEdit EFontSize{20, 6, 99};
    SpinEdit EObwodka{4, 1, 6};
    CheckBox CSubFontAutoHeight{true};
    SpinEdit FontVol{10, 3, 30};
    SpinEdit NapisyCzas{4, 1, 10, 4000};
    SpinEdit NapisBottom{1, 0, 99};
    SpinEdit FWidth{95, 50, 99};
    RadioGroup GSubFontType{0, 4};
    CheckBox CIQText{true};
    Slider IQTime{4000, 2500, 5500};
    CheckBox CIQDziel{true};
    CheckBox CIQZmniejsz{true};
    CheckBox CIQLoadTXT{true};
    TextEdit DirectoryTXT;
    CheckBox CIQAllTXTToMenu{false};

    QColor DFontColor{192, 192, 192}; // subtitle text colour as stored (silver by default)
    SubtitleFont FontDialog;          // where the start-up step assembles the font
    SubtitleFont PanelWzor;           // the effective subtitle font that rendering uses
    QColor SampleShapeColor{192, 192, 192};
    int SampleOutlineWidth = 4; // outline of the (never shown) sample, follows EObwodka

    // Display time in ms that NapisyCzasChange last set (the scheduler starts from it).
    std::int64_t CurrentDisplayTime = 4000;

    // Setters that behave like the controls: the value is kept in range and the change
    // handler runs only when the value really changes.
    void setEFontSize(double value);
    void setNapisyCzas(double value);
    void setEObwodka(double value);

    // Change handlers.
    void EFontSizeChange();  // font sizes of FontDialog and PanelWzor := integer part of EFontSize
    void NapisyCzasChange(); // NapisyCzas.Tag and CurrentDisplayTime := NapisyCzas in whole ms
    void EObwodkaChange();   // the sample's outline follows EObwodka; rendering reads EObwodka

    // Reads the settings from the player's key in the fixed order. The first value that is
    // missing or of the wrong type ends the reading (earlier values stay applied); a missing
    // "EFontName", "DirectoryTXT" or "FontStyle" gives an empty text / no style and reading
    // goes on. The font is assembled right after "FontCharset". A missing key changes nothing.
    // Returns the number of values applied (for the log; nothing is reported to the user).
    int readFromStore(const platform::ISettingsStore& store);

  private:
    void assembleFont(int charset, std::uint8_t styleBits);
};

// Writes the four registration values ("Name", "ShortName", "Path", "Version") under the
// program's own key. Returns false when the store could not be written.
bool writeRegistration(platform::ISettingsStore& store, const QString& executablePath,
                       const QString& versionText);

// The options holder's start-up step: the settings, then the registration values. Returns
// false when the registration could not be written (the caller logs it and goes on).
bool runSettingsStartup(SubtitleSettings& settings, platform::ISettingsStore& store,
                        const QString& executablePath, const QString& versionText);

} // namespace kv::options
