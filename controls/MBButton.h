#pragma once
// TMBButton: the skinned image button every button of the main window is made of. It shows
// one of four glyphs (disabled, down, up, over) by its state, can toggle (Down), draw a
// caption, a one-pixel 3-D frame, a caption shadow and a drop-down mark, and pops up an
// attached menu when pressed. It never takes the keyboard focus.
#include "controls/MBButtonLogic.h"
#include "controls/ShiftState.h"

#include <QImage>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace kv::controls {

// A pop-up menu with the two settings the button consults: whether a press pops it up by
// itself, and how it lines up with the pop-up point.
class TPopupMenu : public QMenu {
    Q_OBJECT
  public:
    using QMenu::QMenu;
    bool AutoPopup = true;
    TPopupAlignment Alignment = paLeft;
    QObject* PopupComponent = nullptr; // the control that popped it up last
};

class TMBButton : public QWidget {
    Q_OBJECT
  public:
    using NotifyEvent = std::function<void(TMBButton* sender)>;
    using MouseEvent = std::function<void(TMBButton* sender, TMouseButton, TShiftState, int x, int y)>;
    using MouseMoveEvent = std::function<void(TMBButton* sender, TShiftState, int x, int y)>;

    explicit TMBButton(QWidget* parent = nullptr);
    ~TMBButton() override;

    // Raises OnClick (after setting the modal result of a dialog it sits in).
    virtual void Click();

    QString Caption() const { return FCaption; }
    void setCaption(const QString& text);

    TTextPos TextPosition() const { return FTextPosition; }
    void setTextPosition(TTextPos value);
    bool Transparent() const { return FTransparent; }
    void setTransparent(bool value);
    bool GlyphTransparent() const { return FGlyphTransparent; }
    void setGlyphTransparent(bool value);
    TGlyphState GlyphState() const { return F.FGlyphState; }
    void setGlyphState(TGlyphState value);
    TButtonStyle ButtonStyle() const { return F.FButtonStyle; }
    void setButtonStyle(TButtonStyle value);
    bool Down() const { return F.FDown; }
    void setDown(bool value);
    bool Border() const { return F.FBorder; }
    void setBorder(bool value);
    bool Shadow() const { return FShadow; }
    void setShadow(bool value);
    int Margin() const { return FMargin; }
    void setMargin(int value); // values below -1 are ignored
    int ModalResult() const { return FModalResult; }
    void setModalResult(int value) { FModalResult = value; }
    TPopupMenu* DropDownMenu() const { return FDropDownMenu; }
    void setDropDownMenu(TPopupMenu* menu); // not owned; dropped when the menu is destroyed
    bool MarkDropDown() const { return FMarkDropDown; }
    void setMarkDropDown(bool value);
    TDropDownMenuPos MenuPosition() const { return FMenuPosition; }
    void setMenuPosition(TDropDownMenuPos value) { FMenuPosition = value; }
    QColor ShadowColor() const { return FShadowColor; }

    // Glyphs. Writing a null image empties the glyph. Only a new up glyph repaints at once.
    const QImage& GlyphUp() const { return FBmpUp; }
    const QImage& GlyphDown() const { return FBmpDown; }
    const QImage& GlyphOver() const { return FBmpOver; }
    const QImage& GlyphDisable() const { return FBmpDisable; }
    void setGlyphUp(const QImage& image);
    void setGlyphDown(const QImage& image);
    void setGlyphOver(const QImage& image);
    void setGlyphDisable(const QImage& image);

    // Events. The release raises OnMouseUp, toggles Down, then raises OnClick.
    NotifyEvent OnClick;
    NotifyEvent OnDblClick;
    NotifyEvent OnMouseEnter;
    NotifyEvent OnMouseLeave;
    MouseEvent OnMouseDown;
    MouseEvent OnMouseUp;
    MouseMoveEvent OnMouseMove;

    // Internal state, read-only (tests and diagnostics).
    TButtonState State() const { return F.FState; }
    bool MouseInControl() const { return F.FMouseInControl; }
    bool Dragging() const { return F.FDragging; }
    bool MenuTracking() const { return F.FMenuTracking; }

  signals:
    void clicked(); // emitted right after OnClick

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    virtual void HoverEnter();
    virtual void HoverLeave();

    // Shows the menu at a screen point and returns when it has closed. Overridable so a
    // test can stand in for the modal menu loop.
    virtual void execDropDownMenu(TPopupMenu& menu, const QPoint& globalPos);

    QPoint DropDownMenuPoint() const;
    bool PopUpDropDownMenu(const QPoint& clientPoint, bool manual);

    MBButtonLogic F; // FState, FGlyphState, FDown, FDragging, FMouseInControl, FMenuTracking

  private:
    void apply(const Reaction& r);
    void handlePress(QMouseEvent* event, bool isDouble);
    void FinishPress(bool leftButton, int x, int y);
    void DrawGlyphImage(class QPainter& p, const QImage& bmp, QRect& r);
    void DrawDropDownArrow(class QPainter& p, int x, int y);
    void DrawCaption(class QPainter& p, QRect r);

    QImage FBmpDisable;
    QImage FBmpDown;
    QImage FBmpUp;
    QImage FBmpOver;
    QString FCaption;
    TTextPos FTextPosition = tpNone;
    bool FTransparent = true;
    bool FGlyphTransparent = true;
    QPointer<TPopupMenu> FDropDownMenu;
    QMetaObject::Connection FMenuDestroyed;
    bool FMarkDropDown = true;
    TDropDownMenuPos FMenuPosition = dmpBottom;
    int FMargin = -1;
    int FModalResult = 0;
    bool FShadow = false;
    QColor FShadowColor{128, 128, 128};
};

// The glyph as drawn: with GlyphTransparent, every pixel of the colour of the bottom-left
// pixel is left out.
QImage keyedGlyph(const QImage& glyph);

} // namespace kv::controls
