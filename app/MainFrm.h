#pragma once
// TfrmMain: the program's one visible window. Borderless and always on top, cut to the
// shape of its background picture, dragged by its background and by the preview picture,
// with its own close and minimise buttons. It owns every control of the skin, the hidden
// log pane and the progress strip; the features that act on them attach their handlers to
// the public members below.
#include "app/FormWidgets.h"
#include "app/MediaShutdown.h"
#include "app/OpenDialog.h"
#include "app/QtDispatcher.h"
#include "app/Skin.h"
#include "controls/MBButton.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <QPoint>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <cstdint>

namespace kv::app {

using kv::controls::TMBButton;

// What a test or the program may choose when the window is made.
struct TfrmMainSetup {
    QLocale locale = QLocale::system();       // the user's language decides the progress prefix
    PictureSource pictures = loadSkinPicture; // skin pictures by name ("background", "btnAdd_up", ...)
    IMediaShutdown* media = nullptr;          // may also be given later with setMediaShutdown
};

inline constexpr int kPreviewMode = 1; // window mode, held in Panel->Tag
inline constexpr int kConversionMode = 0;

inline const QString kApplicationTitle = QStringLiteral("KestrovidToPSP");
inline const QString kVersionText = QStringLiteral("1.3");
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

    // The background picture the window is cut from.
    const QImage& background() const { return FBackground; }

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    TMBButton* makeButton(const char* name, kv::controls::TButtonStyle style, QRect bounds);
    TImage* makeImage(QWidget* parent, const QString& picture, QRect bounds);
    void shutdownMedia();

    QLocale FLocale;
    PictureSource FPictures;
    IMediaShutdown* FMedia = nullptr;
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
