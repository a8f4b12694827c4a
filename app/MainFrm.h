#pragma once
// TfrmMain: the program's one visible window. Borderless and always on top, cut to the
// shape of its background picture, dragged by its background and by the preview picture,
// with its own close and minimise buttons. It owns every control of the skin, the hidden
// log pane and the progress strip; the features that act on them attach their handlers to
// the public members below.
#include "app/FormWidgets.h"
#include "app/MediaShutdown.h"
#include "app/OpenDialog.h"
#include "app/PreviewScreen.h"
#include "app/ProgramTexts.h"
#include "app/QtDispatcher.h"
#include "app/RemainingTime.h"
#include "app/Skin.h"
#include "app/UpdateCheck.h"
#include "controls/MBButton.h"
#include "media/TFFEncoder.h"
#include "media/TFFLogger.h"
#include "media/TFFPlayer.h"
#include "options/TfrmOption.h"
#include "platform/HttpPost.h"
#include "platform/SettingsStore.h"
#include "platform/UrlOpener.h"
#include "subtitles/SubtitleBurner.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <QPoint>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

namespace kv::app {

using kv::controls::TMBButton;

// What a test or the program may choose when the window is made.
struct TfrmMainSetup {
    QLocale locale = QLocale::system();       // the user's language decides the progress prefix
    PictureSource pictures = loadSkinPicture; // skin pictures by name ("background", "btnAdd_up", ...)
    IMediaShutdown* media = nullptr;          // may also be given later with setMediaShutdown
    // The user's settings store (date of the last update check, update host); null: the
    // window opens the user's own store.
    platform::ISettingsStore* store = nullptr;
    platform::IUrlOpener* urlOpener = nullptr; // web pages; null: the user's browser
    UpdateCheck::Clock clock;                  // local date and time; null: the wall clock
    // The warning box (caption, text); null: a modal message box with a warning icon.
    std::function<void(const QString& caption, const QString& text)> warningBox;
};

inline constexpr int kPreviewMode = 1; // window mode, held in Panel->Tag
inline constexpr int kConversionMode = 0;

// The subtitle open dialog's settings.
inline const QString kSubtitleDialogTitle = QStringLiteral("Kestroplay - Wybierz Tekst");
inline const QString kSubtitleFilter =
    QStringLiteral("Teksty do Filmów|*.txt;*sub;*.srt;*.ssa;*.smi;*.ass|Wszystkie Pliki|*.*");
inline const QString kSubtitleDefaultExt = QStringLiteral("*.txt;*.sub;*.srt;*.ssa;*.smi;*.ass");

// True for the extensions that go to the subtitle loader (".TXT", ".SUB", ".SRT", ".SSA",
// ".SMI", ".ASS", in any case); the extension is the last path component's part from its
// last dot on.
bool isSubtitleFile(const QString& path);
QString upperExtension(const QString& path);

extern const QString kSourceFilter; // the source open dialog's filter text

class TfrmMain : public QWidget {
    Q_OBJECT
  public:
    explicit TfrmMain(TfrmMainSetup setup = {}, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Module-level state of the window.
    QString VersionText;              // "1.3"
    QString ProgressPrefix;           // "Postęp: " for Polish, else "Progress: "
    std::int64_t TotalDuration = 0;   // microseconds
    std::int64_t CurrentPosition = 0; // microseconds

    // Controls (owned by the window).
    TPanel* Panel1 = nullptr;
    TImage* ImageBgn = nullptr;
    TMBButton* btnAdd = nullptr;
    TMBButton* btnAddSub = nullptr;
    TMBButton* btnSubOn = nullptr;
    TMBButton* btnHi = nullptr;
    TMBButton* btnLo = nullptr;
    TMBButton* btnVol1 = nullptr;
    TMBButton* btnVol2 = nullptr;
    TImage* ImageProgress = nullptr; // Tag: the strip position
    TLabel* LProgress = nullptr;
    TPanel* Panel = nullptr;  // the preview panel; Tag: the window mode
    TImage* Image1 = nullptr; // Tag: the preview toggle
    TMBButton* btnPlay = nullptr;
    TMBButton* btnStop = nullptr;
    TMBButton* btnPause = nullptr;
    TMBButton* btnClose = nullptr;
    TMBButton* btnStartConvert = nullptr;
    TMBButton* btnPauseConvert = nullptr;
    TMBButton* btnResumeConvert = nullptr;
    TMBButton* btnInfo = nullptr;
    TMBButton* btnMinimize = nullptr;
    TImage* ImageInfoPL = nullptr;
    TImage* ImageInfoEn = nullptr;
    TImage* ImgT = nullptr; // tile of the done part of the strip
    TImage* ImgN = nullptr; // tile of the remaining part and the left edge
    QPlainTextEdit* mmoLog = nullptr;
    TRadioGroup* grpLogLevel = nullptr;

    // Components without a picture.
    TOpenDialog OpenDialog1;
    TOpenDialog OpenTXT;
    QTimer* TimerStatystyki = nullptr;
    QTimer* TimerCheckVersion = nullptr;

    // Where media threads hand their events to the GUI thread.
    QtDispatcher* Dispatcher = nullptr;

    // The media components: the conversion engine (with its decoder), the preview player
    // and the log sink. Their events reach the window on the GUI thread.
    std::unique_ptr<kv::media::TFFLogger> FFLogger;
    std::unique_ptr<kv::media::TFFEncoder> FFVCL;
    std::unique_ptr<kv::media::TFFPlayer> FFPlayer;
    PreviewScreen* PlayerScreen = nullptr; // in Panel: where the player draws the preview

    // Subtitles burnt into the conversion's frames (the engine's video-input hook).
    kv::subtitles::SubtitleBurner Burner;
    // The remaining-time estimate shown after the percentage.
    RemainingTime Estimate;

    // The options holder: subtitle settings, subtitle table, raw lines, source frame rate.
    std::unique_ptr<kv::options::TfrmOption> frmOption;

    // The update check's HTTP client (aborted when the window closes) and the check itself.
    platform::HttpPostClient CheckVersion;
    std::unique_ptr<UpdateCheck> UpdateChecker;
    platform::ISettingsStore& settingsStore() { return *FStore; }

    // The warning box (caption, text).
    std::function<void(const QString& caption, const QString& text)> ShowWarning;

    void setMediaShutdown(IMediaShutdown* media) { FMedia = media; }
    bool isPreviewMode() const { return Panel->Tag == kPreviewMode; }
    const QLocale& locale() const { return FLocale; } // the user's locale the window was made with

    // Handlers.
    void FormCreate();
    void FormResize();
    void FormCloseQuery(bool& canClose);
    void FormMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void FormMouseMove(TShiftState shift, int x, int y);
    void btnCloseClick(TMBButton* sender);
    void btnMinimizeClick(TMBButton* sender);
    void FFLoggerLog(std::uint32_t threadId, int level, const QString& text);
    void ProgressBar(int position);

    // Update check and info page.
    void TimerCheckVersionTimer();
    void btnInfoClick(TMBButton* sender);
    void ImageInfoEnClick(TImage* sender);

    // File hand-over: the subtitle button, the loader call, dropped files and the command line.
    enum class LoadCaller { User, CommandLine };
    void btnAddSubClick(TMBButton* sender);
    bool LoadTXT(LoadCaller caller = LoadCaller::User);     // loads OpenTXT.FileName
    void HandOverDroppedFiles(const QStringList& files);    // WMDropFiles
    void HandOverCommandLine(const QStringList& arguments); // arguments after the program name
    // The options holder's start-up step (subtitle settings read, registration written),
    // then the command-line hand-over.
    void OptionsStartup(const QString& executablePath, const QStringList& arguments);

    // The source add routine: with a sender shows the source dialog, without takes
    // OpenDialog1.FileName.
    void btnAddClick(TMBButton* sender);
    bool AddConvertTask(const kv::media::TInputOptions& input, const kv::media::TOutputOptions& output);
    kv::media::TLogLevel logLevel() const;
    QString libraryFolder() const; // the executable's folder followed by "LibAV"

    // Profile pair.
    void btnHiClick(TMBButton* sender);
    void btnLoClick(TMBButton* sender);

    // Conversion control and progress.
    void btnStartConvertClick(TMBButton* sender);
    void btnPauseConvertClick(TMBButton* sender);
    void btnResumeConvertClick(TMBButton* sender);
    void FFVCLProgress(const kv::media::TProgressInfo& info);
    void FFVCLTerminate(const kv::media::TTerminateInfo& info);
    void FFVCLPreviewBitmap(const kv::media::TPreviewInfo& info);
    void TimerStatystykiTimer();

    // Shared buttons (player in preview mode, engine in conversion mode) and the preview.
    void btnStopClick(TMBButton* sender);
    void btnPauseClick(TMBButton* sender);
    void btnPlayClick(TMBButton* sender);
    void FFPlayerFileOpen(std::int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                          int& screenHeight);
    void FFPlayerPosition(std::int64_t pts);
    void ImageProgressMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void btnVol1Click(TMBButton* sender);
    void btnVol2Click(TMBButton* sender);

    // Keeps the burner's copy of "btnSubOn visible and down" in step with the button.
    void subtitleSwitchChanged();
    // A time as the user's locale writes its long time (the preview and progress labels).
    QString longTimeText(std::int64_t microseconds) const;

    // The background picture the window is cut from.
    const QImage& background() const { return FBackground; }

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    TMBButton* makeButton(const char* name, kv::controls::TButtonStyle style, QRect bounds);
    TImage* makeImage(QWidget* parent, const QString& picture, QRect bounds);
    void shutdownMedia();
    void setUpUpdateCheck(const TfrmMainSetup& setup);
    void setUpMedia();
    void bindConversionHandlers();
    void setUpPreviewControls();
    void endConversionState();
    void log(const QString& line);

    QLocale FLocale;
    PictureSource FPictures;
    IMediaShutdown* FMedia = nullptr;
    std::unique_ptr<platform::ISettingsStore> FOwnStore;
    platform::ISettingsStore* FStore = nullptr;
    std::unique_ptr<IMediaShutdown> FOwnMedia; // the real shutdown over the components above
    std::unique_ptr<platform::IUrlOpener> FOwnUrlOpener;
    platform::IUrlOpener* FUrlOpener = nullptr;
    QImage FBackground;
    QRegion FShape; // the background's pixels that are not of the key colour
    bool FDragging = false;
    QPoint FDragStart;
    bool FShownOnce = false;
    bool FShutDown = false;
    bool FResizing = false;
};

// The progress prefix for a language.
QString progressPrefixFor(const QLocale& locale);

} // namespace kv::app
