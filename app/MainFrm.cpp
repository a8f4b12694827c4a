#include "app/MainFrm.h"

#include "platform/RegistryFileStore.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>

namespace kv::app {

using namespace kv::controls;

const QString kSourceFilter = QStringLiteral(
    "Video/Audio Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;"
    "*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*."
    "MPA;"
    "*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|Video "
    "Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;"
    "*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;|Audio "
    "Files|*.MP3;*.AAC;"
    "*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*."
    "DTS;|"
    "All Files|*.*");

QString progressPrefixFor(const QLocale& locale)
{
    return locale.language() == QLocale::Polish ? QStringLiteral("Postęp: ") : QStringLiteral("Progress: ");
}

namespace {

constexpr QSize kDesignClientSize{774, 261};
constexpr QSize kSkinSize{590, 260};
const QColor kSilver{192, 192, 192};

QImage filled(QSize size, QColor colour)
{
    QImage img(size, QImage::Format_ARGB32);
    img.fill(colour);
    return img;
}

// Stand-ins for pictures that did not come with the skin, so the window still works.
QImage fallbackBackground()
{
    QImage img = filled(kSkinSize, QColor(40, 40, 48));
    img.setPixelColor(0, kSkinSize.height() - 1, Qt::magenta); // key colour used by no other pixel
    return img;
}

QImage pictureOr(const PictureSource& pictures, const QString& name, const QImage& fallback)
{
    QImage img = pictures ? pictures(name) : QImage();
    return img.isNull() ? fallback : img;
}

} // namespace

TfrmMain::TfrmMain(TfrmMainSetup setup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FLocale(std::move(setup.locale)), FPictures(std::move(setup.pictures)), FMedia(setup.media)
{
    setObjectName("frmMain");
    resize(kDesignClientSize);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kSilver);
    setPalette(pal);
    setFont(QFont("Tahoma", 8));

    FBackground =
        pictureOr(FPictures, "background", fallbackBackground()).convertToFormat(QImage::Format_ARGB32);
    const QRgb key = FBackground.pixel(0, FBackground.height() - 1);
    FShape = QRegion(QBitmap::fromImage(FBackground.createMaskFromColor(key, Qt::MaskInColor)));
    const QImage icon = FPictures ? FPictures("icon") : QImage();
    if (!icon.isNull())
        setWindowIcon(QIcon(QPixmap::fromImage(icon)));

    // Controls in the order they stack, bottom first.
    Panel1 = new TPanel(this, Qt::black);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(QRect(QPoint(0, 0), kSkinSize));

    ImageBgn = new TImage(Panel1);
    ImageBgn->setObjectName("ImageBgn");
    ImageBgn->setGeometry(QRect(QPoint(0, 0), kSkinSize));
    ImageBgn->setAutoSize(true);
    ImageBgn->setPicture(FBackground);

    btnAdd = makeButton("btnAdd", btNormal, {141, 157, 41, 27});
    btnAddSub = makeButton("btnAddSub", btNormal, {188, 157, 41, 27});
    btnAddSub->setEnabled(false);
    btnSubOn = makeButton("btnSubOn", btSpeed, {222, 160, 14, 12});
    btnSubOn->setVisible(false);
    btnHi = makeButton("btnHi", btSpeed, {187, 193, 19, 15});
    btnHi->setDown(true);
    btnLo = makeButton("btnLo", btSpeed, {210, 193, 19, 15});
    btnVol1 = makeButton("btnVol1", btNormal, {164, 230, 21, 15});
    btnVol2 = makeButton("btnVol2", btNormal, {203, 230, 20, 15});

    ImageProgress = makeImage(Panel1, "ImageProgress", {285, 158, 168, 11});
    if (ImageProgress->Picture.isNull())
        ImageProgress->setPicture(filled({168, 11}, Qt::black));
    ImageProgress->setCursor(Qt::ArrowCursor);

    LProgress = new TLabel(Panel1);
    LProgress->setObjectName("LProgress");
    QFont labelFont("Tahoma", 8);
    labelFont.setBold(true);
    LProgress->setFont(labelFont);
    QPalette labelPal = LProgress->palette();
    labelPal.setColor(QPalette::WindowText, kSilver);
    LProgress->setPalette(labelPal);
    LProgress->move(285, 141);
    LProgress->setText(QStringLiteral("Progress: 0%")); // the initial caption, whatever the language

    Panel = new TPanel(Panel1, Qt::black);
    Panel->setObjectName("Panel");
    Panel->setGeometry(285, 36, 168, 95);
    Panel->setVisible(false);
    Image1 = new TImage(Panel);
    Image1->setObjectName("Image1");
    Image1->setGeometry(0, 0, 168, 95);
    Image1->setStretch(true);

    btnPlay = makeButton("btnPlay", btSpeed, {507, 64, 34, 34});
    btnPlay->setEnabled(false);
    btnStop = makeButton("btnStop", btNormal, {473, 99, 34, 34});
    btnStop->setEnabled(false);
    btnPause = makeButton("btnPause", btSpeed, {541, 100, 34, 34});
    btnPause->setEnabled(false);
    btnClose = makeButton("btnClose", btNormal, {507, 132, 34, 34});
    btnStartConvert = makeButton("btnStartConvert", btNormal, {285, 181, 169, 27});
    btnStartConvert->setTransparent(false);
    btnStartConvert->setEnabled(false);
    btnPauseConvert = makeButton("btnPauseConvert", btNormal, {285, 190, 169, 27});
    btnPauseConvert->setTransparent(false);
    btnPauseConvert->setVisible(false);
    btnResumeConvert = makeButton("btnResumeConvert", btNormal, {285, 200, 169, 27});
    btnResumeConvert->setTransparent(false);
    btnResumeConvert->setGlyphState(gsOver); // shows its over glyph until first hovered or pressed
    btnResumeConvert->setVisible(false);
    btnInfo = makeButton("btnInfo", btSpeed, {403, 228, 35, 18});
    btnInfo->setCursor(Qt::WhatsThisCursor);
    btnMinimize = makeButton("btnMinimize", btNormal, {441, 228, 35, 18});

    ImageInfoPL = makeImage(Panel1, "info_pl", {559, 26, 336, 192});
    ImageInfoEn = makeImage(Panel1, "info_en", {576, 26, 336, 192});
    for (TImage* info : {ImageInfoPL, ImageInfoEn}) {
        info->setAutoSize(true);
        info->setCursor(Qt::PointingHandCursor);
        info->setVisible(false);
    }
    ImageInfoPL->setObjectName("ImageInfoPL");
    ImageInfoEn->setObjectName("ImageInfoEn");

    // Holders outside the visible part of the window.
    ImgT = makeImage(this, "ImgT", {592, 0, 33, 33});
    if (ImgT->Picture.isNull())
        ImgT->setPicture(filled({1, 11}, QColor(64, 160, 224)));
    ImgN = makeImage(this, "ImgN", {632, 0, 33, 33});
    if (ImgN->Picture.isNull())
        ImgN->setPicture(filled({1, 11}, QColor(32, 32, 32)));

    mmoLog = new QPlainTextEdit(this);
    mmoLog->setObjectName("mmoLog");
    mmoLog->setGeometry(600, 32, 166, 37);
    mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoLog->setReadOnly(true);
    mmoLog->setVisible(false);

    grpLogLevel =
        new TRadioGroup(QStringLiteral("Log Level"),
                        {"Quiet", "Panic", "Fatal", "Error", "Warning", "Info", "Verbose", "Debug"}, 3, this);
    grpLogLevel->setObjectName("grpLogLevel");
    grpLogLevel->setGeometry(604, 87, 160, 98);
    grpLogLevel->setItemIndex(5);
    grpLogLevel->setVisible(false);

    TimerStatystyki = new QTimer(this);
    TimerStatystyki->setObjectName("TimerStatystyki");
    TimerStatystyki->setInterval(3000);
    TimerCheckVersion = new QTimer(this);
    TimerCheckVersion->setObjectName("TimerCheckVersion");
    TimerCheckVersion->setInterval(3000);
    TimerCheckVersion->start();

    Dispatcher = new QtDispatcher(this);

    // Dragging: only the background and the preview picture start it.
    for (TImage* dragSurface : {ImageBgn, Image1}) {
        dragSurface->OnMouseDown = [this](TImage*, TMouseButton b, TShiftState s, int x, int y) {
            FormMouseDown(b, s, x, y);
        };
        dragSurface->OnMouseMove = [this](TImage*, TShiftState s, int x, int y) { FormMouseMove(s, x, y); };
    }
    btnClose->OnClick = [this](TMBButton* b) { btnCloseClick(b); };
    btnMinimize->OnClick = [this](TMBButton* b) { btnMinimizeClick(b); };

    ShowWarning = setup.warningBox ? setup.warningBox : [this](const QString& caption, const QString& text) {
        QMessageBox::warning(this, caption, text, QMessageBox::Ok);
    };

    FormCreate();

    Estimate = RemainingTime(RemainingTime::steadyClock(), RemainingTime::localeTimeFormatter(FLocale));
    frmOption = std::make_unique<kv::options::TfrmOption>();
    setUpMedia();
    setUpUpdateCheck(setup);
    connect(TimerCheckVersion, &QTimer::timeout, this, [this] { TimerCheckVersionTimer(); });
    btnInfo->OnClick = [this](TMBButton* b) { btnInfoClick(b); };
    for (TImage* info : {ImageInfoPL, ImageInfoEn})
        info->OnClick = [this](TImage* sender) { ImageInfoEnClick(sender); };
    btnAddSub->OnClick = [this](TMBButton* b) { btnAddSubClick(b); };
    btnAdd->OnClick = [this](TMBButton* b) { btnAddClick(b); };
    btnHi->OnClick = [this](TMBButton* b) { btnHiClick(b); };
    btnLo->OnClick = [this](TMBButton* b) { btnLoClick(b); };
    btnSubOn->OnClick = [this](TMBButton*) { subtitleSwitchChanged(); };
    bindConversionHandlers();
    setUpPreviewControls();
}

void TfrmMain::log(const QString& line)
{
    mmoLog->appendPlainText(line);
}

TfrmMain::~TfrmMain()
{
    // A window destroyed without a close still must not leave engine events pointing at it.
    shutdownMedia();
    // The components go before the controls they report to; the player and the engine stop
    // and wait for their threads as they go.
    FFPlayer.reset();
    FFVCL.reset();
    FFLogger.reset();
}

TMBButton* TfrmMain::makeButton(const char* name, TButtonStyle style, QRect bounds)
{
    auto* b = new TMBButton(Panel1);
    b->setObjectName(name);
    b->setGeometry(bounds);
    b->setBorder(false);
    b->setButtonStyle(style);
    b->setCursor(Qt::PointingHandCursor);
    if (FPictures) {
        const QString base = QString::fromLatin1(name) + '_';
        b->setGlyphUp(FPictures(base + "up"));
        b->setGlyphOver(FPictures(base + "over"));
        b->setGlyphDown(FPictures(base + "down"));
        b->setGlyphDisable(FPictures(base + "disabled"));
    }
    return b;
}

TImage* TfrmMain::makeImage(QWidget* parent, const QString& picture, QRect bounds)
{
    auto* img = new TImage(parent);
    img->setObjectName(picture);
    img->setGeometry(bounds);
    if (FPictures)
        img->setPicture(FPictures(picture));
    return img;
}

void TfrmMain::FormCreate()
{
    QGuiApplication::setApplicationDisplayName(kApplicationTitle);
    setWindowTitle(kApplicationTitle);
    VersionText = kVersionText;
    OpenDialog1.Options = ofHideReadOnly | ofFileMustExist | ofEnableSizing;
    OpenDialog1.Filter = kSourceFilter;
    OpenDialog1.FilterIndex = 1;
    OpenTXT.Title = kSubtitleDialogTitle;
    OpenTXT.Filter = kSubtitleFilter;
    OpenTXT.DefaultExt = kSubtitleDefaultExt;
    Panel->Tag = kPreviewMode;
    ProgressPrefix = progressPrefixFor(FLocale);
}

void TfrmMain::FormResize()
{
    if (FResizing)
        return; // the size limits below resize the window, which calls here again
    FResizing = true;
    const QSize s = FBackground.size();
    setMaximumHeight(s.height());
    setMaximumWidth(s.width());
    setMinimumHeight(s.height());
    setMinimumWidth(s.width());
    ImageBgn->setStretch(false);
    // The key colour's pixels are cut out of the window: not drawn, and clicks pass through.
    setMask(FShape);
    FResizing = false;
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    setAcceptDrops(true); // the drops themselves are handled by the file hand-over
    FormResize();
    if (!FShownOnce) {
        FShownOnce = true;
        if (QScreen* s = screen())
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormResize(); // FormActivate
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TfrmMain::FormCloseQuery(bool& canClose)
{
    // A pending update request is given up first, so the close never waits for the network.
    if (UpdateChecker)
        UpdateChecker->abort();
    shutdownMedia();
    canClose = true;
}

void TfrmMain::shutdownMedia()
{
    if (FShutDown)
        return;
    FShutDown = true;
    // The window's own components always go quiet, also when another shutdown was given.
    IMediaShutdown* const order[] = {FMedia, FMedia == FOwnMedia.get() ? nullptr : FOwnMedia.get()};
    for (IMediaShutdown* media : order) {
        if (!media)
            continue;
        media->detachEngineHandlers(); // no engine event reaches the window any more
        media->stopEngineAndWait();
        media->detachLogger();
    }
}

void TfrmMain::FormMouseDown(TMouseButton button, TShiftState, int x, int y)
{
    if (button != mbLeft)
        return;
    FDragging = true;
    FDragStart = {x, y};
}

void TfrmMain::FormMouseMove(TShiftState shift, int x, int y)
{
    // Only the left button alone moves the window: any other button or Shift, Ctrl or Alt
    // ends the drag. The pointer keeps its place in the pressed control, so the stored
    // point stays valid as the window follows.
    if (FDragging && shift == ssLeft)
        move(pos() + QPoint(x - FDragStart.x(), y - FDragStart.y()));
    else
        FDragging = false;
}

void TfrmMain::btnCloseClick(TMBButton*)
{
    close();
}

void TfrmMain::btnMinimizeClick(TMBButton*)
{
    showMinimized();
}

void TfrmMain::FFLoggerLog(std::uint32_t threadId, int level, const QString& text)
{
    mmoLog->appendPlainText(QLatin1Char('#') + QString::number(threadId) + QLatin1Char('.') +
                            QString::number(level) + QLatin1String(": ") + text);
}

void TfrmMain::ProgressBar(int position)
{
    ImageProgress->Tag = position;
    QImage& strip = ImageProgress->Picture;
    const int width = strip.width(), height = strip.height();
    // Drawing bound; positions past the strip paint as the full strip (and cannot overflow).
    const int d = position < 3 ? 2 : std::min(position, width);
    QPainter p(&strip);
    const QBrush done(ImgT->Picture), remaining(ImgN->Picture);
    if (d > 3)
        p.fillRect(QRect(3, 0, d - 3, height), done);
    if (width > d + 1)
        p.fillRect(QRect(d + 1, 0, width - (d + 1), height), remaining);
    p.fillRect(QRect(0, 0, 2, height), remaining); // the left edge; column 2 stays the base picture
    p.end();
    ImageProgress->update();
}

} // namespace kv::app
