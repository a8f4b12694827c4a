#include "controls/MBButton.h"

#include <QDialog>
#include <QMouseEvent>
#include <QPainter>

namespace kv::controls {

namespace {

// Clears FMenuTracking when a press has been processed, also when a handler throws.
struct TrackingGuard {
    MBButtonLogic& logic;
    ~TrackingGuard() { logic.endTracking(); }
};

bool isLeft(const QMouseEvent* e)
{
    return e->button() == Qt::LeftButton;
}

QPoint localPos(const QMouseEvent* e)
{
    return e->position().toPoint();
}

} // namespace

QImage keyedGlyph(const QImage& glyph)
{
    QImage out = glyph.convertToFormat(QImage::Format_ARGB32);
    if (out.isNull())
        return out;
    const QRgb key = out.pixel(0, out.height() - 1) | 0xff000000u;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((line[x] | 0xff000000u) == key)
                line[x] = 0;
    }
    return out;
}

TMBButton::TMBButton(QWidget* parent) : QWidget(parent)
{
    setGeometry(0, 0, 40, 40);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true); // OnMouseMove is raised without a button held, too
}

TMBButton::~TMBButton()
{
    QObject::disconnect(FMenuDestroyed);
}

void TMBButton::apply(const Reaction& r)
{
    if (r.repaint)
        repaint();
    else if (r.invalidate)
        update();
}

void TMBButton::Click()
{
    if (auto* dialog = qobject_cast<QDialog*>(window())) {
        if (FModalResult != 0)
            dialog->done(FModalResult);
        else
            dialog->setResult(0);
    }
    if (OnClick)
        OnClick(this);
    emit clicked();
}

void TMBButton::setCaption(const QString& text)
{
    FCaption = text;
    update();
}

void TMBButton::setTextPosition(TTextPos value)
{
    if (value != FTextPosition) {
        FTextPosition = value;
        update();
    }
}

void TMBButton::setTransparent(bool value)
{
    if (value != FTransparent) {
        FTransparent = value;
        setAttribute(Qt::WA_OpaquePaintEvent, !value);
        update();
    }
}

void TMBButton::setGlyphTransparent(bool value)
{
    if (value != FGlyphTransparent) {
        FGlyphTransparent = value;
        update();
    }
}

void TMBButton::setGlyphState(TGlyphState value)
{
    apply(F.setGlyphState(value));
}
void TMBButton::setButtonStyle(TButtonStyle value)
{
    apply(F.setButtonStyle(value));
}
void TMBButton::setDown(bool value)
{
    apply(F.setDown(value));
}
void TMBButton::setBorder(bool value)
{
    apply(F.setBorder(value));
}

void TMBButton::setShadow(bool value)
{
    if (value != FShadow) {
        FShadow = value;
        update();
    }
}

void TMBButton::setMargin(int value)
{
    if (value != FMargin && value >= -1) {
        FMargin = value;
        update();
    }
}

void TMBButton::setDropDownMenu(TPopupMenu* menu)
{
    QObject::disconnect(FMenuDestroyed);
    FDropDownMenu = menu;
    if (menu)
        FMenuDestroyed = connect(menu, &QObject::destroyed, this, [this] { setDropDownMenu(nullptr); });
    if (FMarkDropDown)
        update();
}

void TMBButton::setMarkDropDown(bool value)
{
    if (value != FMarkDropDown) {
        FMarkDropDown = value;
        update();
    }
}

void TMBButton::setGlyphUp(const QImage& image)
{
    FBmpUp = image;
    repaint();
}
void TMBButton::setGlyphDown(const QImage& image)
{
    FBmpDown = image;
}
void TMBButton::setGlyphOver(const QImage& image)
{
    FBmpOver = image;
}
void TMBButton::setGlyphDisable(const QImage& image)
{
    FBmpDisable = image;
}

// ---- painting ----

void TMBButton::paintEvent(QPaintEvent*)
{
    F.derive(isEnabled());
    QPainter p(this);
    QRect r(0, 0, width(), height());
    p.setFont(font());
    if (!FTransparent)
        p.fillRect(r, palette().color(backgroundRole()));

    if (F.frameVisible()) {
        // A one-pixel 3-D edge: raised (light top-left, dark bottom-right) or sunken.
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        const bool sunken = F.frameSunken();
        const QColor topLeft = sunken ? dark : light;
        const QColor bottomRight = sunken ? light : dark;
        const int w = width(), h = height();
        if (!FTransparent && w > 2 && h > 2)
            p.fillRect(1, 1, w - 2, h - 2, palette().color(QPalette::Button));
        p.fillRect(0, 0, w - 1, 1, topLeft);
        p.fillRect(0, 0, 1, h - 1, topLeft);
        p.fillRect(0, h - 1, w, 1, bottomRight);
        p.fillRect(w - 1, 0, 1, h, bottomRight);
    }

    switch (F.FGlyphState) {
    case gsDisabled:
        DrawGlyphImage(p, FBmpDisable, r);
        break;
    case gsDown:
        DrawGlyphImage(p, FBmpDown, r);
        break;
    case gsUp:
        DrawGlyphImage(p, FBmpUp, r);
        break;
    case gsOver:
        DrawGlyphImage(p, FBmpOver, r);
        break;
    case gsNone:
        if (FDropDownMenu) {
            if (F.FMenuTracking) // the mark sinks a pixel while the menu is open
                DrawDropDownArrow(p, width() - 9, height() / 2 + 1);
            else
                DrawDropDownArrow(p, width() - 10, height() / 2);
        }
        break;
    }

    if (FTextPosition != tpNone)
        DrawCaption(p, r);
}

void TMBButton::DrawGlyphImage(QPainter& p, const QImage& bmp, QRect& r)
{
    const QImage& source = bmp.isNull() ? FBmpUp : bmp;
    const int w = source.width(), h = source.height();
    const GlyphPlacement g =
        placeGlyph(FTextPosition, width(), height(), w, h, F.glyphPressedShift(), FMargin);
    r.setLeft(r.left() + g.trimLeft);
    r.setTop(r.top() + g.trimTop);
    r.setRight(r.right() - g.trimRight);
    r.setBottom(r.bottom() - g.trimBottom);
    if (!source.isNull())
        p.drawImage(g.x, g.y, FGlyphTransparent ? keyedGlyph(source) : source);
    if (FDropDownMenu && FMarkDropDown)
        DrawDropDownArrow(p, g.x + w, g.y + h / 2);
}

void TMBButton::DrawDropDownArrow(QPainter& p, int x, int y)
{
    const QColor c = palette().color(QPalette::ButtonText);
    p.fillRect(x, y - 1, 7, 1, c);
    p.fillRect(x + 1, y, 5, 1, c);
    p.fillRect(x + 2, y + 1, 3, 1, c);
    p.fillRect(x + 3, y + 2, 1, 1, c);
}

void TMBButton::DrawCaption(QPainter& p, QRect r)
{
    const int th = p.fontMetrics().height();
    const int top = (r.top() + (r.bottom() + 1) - th) / 2;
    r = QRect(r.left(), top, r.width(), th);
    const int flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextExpandTabs;
    if (F.FState != bsDisabled) {
        if (F.FState == bsDown && F.FBorder)
            r.translate(1, 1);
        if (F.FState == bsDown && FTextPosition == tpOnGlyph)
            r.translate(1, 1);
        r.translate(1, 1);
        if (FShadow) {
            p.setPen(FShadowColor);
            p.drawText(r, flags, FCaption);
        }
        r.translate(-1, -1);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, flags, FCaption);
    } else {
        // Embossed: a light copy one pixel down-right under a dark one.
        if (F.FDown && F.FBorder)
            r.translate(1, 1);
        r.translate(1, 1);
        p.setPen(palette().color(QPalette::Light));
        p.drawText(r, Qt::AlignHCenter | Qt::AlignVCenter, FCaption);
        r.translate(-1, -1);
        p.setPen(palette().color(QPalette::Dark));
        p.drawText(r, Qt::AlignHCenter | Qt::AlignVCenter, FCaption);
    }
}

// ---- pointer ----

void TMBButton::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    const bool captureHeld = QWidget::mouseGrabber() != nullptr;
    const Reaction r = F.pointerEnter(isEnabled(), captureHeld);
    apply(r);
    if (r.hover)
        HoverEnter();
}

void TMBButton::HoverEnter()
{
    apply(F.hoverEnter(!FBmpOver.isNull()));
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TMBButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    const Reaction r = F.pointerLeave(isEnabled());
    apply(r);
    if (r.hover)
        HoverLeave();
}

void TMBButton::HoverLeave()
{
    apply(F.hoverLeave(!FBmpOver.isNull()));
    if (OnMouseLeave)
        OnMouseLeave(this);
}

void TMBButton::mousePressEvent(QMouseEvent* event)
{
    handlePress(event, false);
}

void TMBButton::handlePress(QMouseEvent* event, bool isDouble)
{
    event->accept(); // a button never hands its presses on to the window beneath
    if (F.FMenuTracking || F.FDragging)
        return; // another press, or its menu, is still being processed
    const QPoint pos = localPos(event);
    if (OnMouseDown)
        OnMouseDown(this, toMouseButton(event->button()),
                    toShiftState(event->buttons(), event->modifiers(), isDouble), pos.x(), pos.y());
    const Reaction r = F.press(isLeft(event), isEnabled());
    apply(r);
    if (!r.track)
        return;
    TrackingGuard guard{F};
    const QPoint menuPoint = DropDownMenuPoint();
    if (PopUpDropDownMenu(menuPoint, false)) {
        // The menu has closed: the button comes up (and toggles) without a click.
        FinishPress(true, pos.x(), pos.y());
    }
    // A press that closed the menu on this button arrives while FMenuTracking is still set
    // and is dropped above, so it neither clicks nor reopens the menu.
}

void TMBButton::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    const QPoint pos = localPos(event);
    if (OnMouseMove)
        OnMouseMove(this, toShiftState(event->buttons(), event->modifiers()), pos.x(), pos.y());
    apply(F.move(MBButtonLogic::inside(pos.x(), pos.y(), width(), height())));
}

void TMBButton::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    const QPoint pos = localPos(event);
    if (OnMouseUp)
        OnMouseUp(this, toMouseButton(event->button()), toShiftState(event->buttons(), event->modifiers()),
                  pos.x(), pos.y());
    FinishPress(isLeft(event), pos.x(), pos.y());
}

void TMBButton::FinishPress(bool leftButton, int x, int y)
{
    const Reaction r = F.finishPress(leftButton, MBButtonLogic::inside(x, y, width(), height()));
    apply(r);
    if (r.click)
        Click();
}

void TMBButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (!isLeft(event)) {
        handlePress(event, true); // other buttons: just another press
        return;
    }
    if (!F.acceptsDoubleClick())
        return;
    handlePress(event, true);
    if (F.FDown && OnDblClick)
        OnDblClick(this);
}

void TMBButton::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled())
            F.derive(false); // cancels a press at once, not only at the next paint
        update();
    }
}

void TMBButton::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // A hidden widget gets no release; without this the button would ignore presses for good.
    F.cancelPress();
}

// ---- drop-down menu ----

QPoint TMBButton::DropDownMenuPoint() const
{
    const TPopupAlignment align = FDropDownMenu ? FDropDownMenu->Alignment : paLeft;
    const Point16 p = dropDownMenuPoint(FDropDownMenu != nullptr, FMenuPosition, align, width(), height());
    return {p.x, p.y};
}

bool TMBButton::PopUpDropDownMenu(const QPoint& clientPoint, bool manual)
{
    TPopupMenu* menu = FDropDownMenu;
    if (!menu || !(manual || menu->AutoPopup))
        return false;
    menu->PopupComponent = this;
    execDropDownMenu(*menu, mapToGlobal(clientPoint));
    return true;
}

void TMBButton::execDropDownMenu(TPopupMenu& menu, const QPoint& globalPos)
{
    QPoint at = globalPos;
    const int w = menu.sizeHint().width();
    if (menu.Alignment == paRight)
        at.rx() -= w;
    else if (menu.Alignment == paCenter)
        at.rx() -= w / 2;
    menu.exec(at);
}

} // namespace kv::controls
