#include "app/FormWidgets.h"

#include <QGridLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>

namespace kv::app {

using kv::controls::toMouseButton;
using kv::controls::toShiftState;

TPanel::TPanel(QWidget* parent, QColor colour) : QWidget(parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colour);
    setPalette(pal);
    setAutoFillBackground(true);
}

TImage::TImage(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
}

void TImage::setPicture(const QImage& image)
{
    Picture = image;
    if (FAutoSize && !Picture.isNull())
        resize(Picture.size());
    update();
}

void TImage::setStretch(bool on)
{
    FStretch = on;
    update();
}

void TImage::setAutoSize(bool on)
{
    FAutoSize = on;
    if (on && !Picture.isNull())
        resize(Picture.size());
}

void TImage::paintEvent(QPaintEvent*)
{
    if (Picture.isNull())
        return;
    QPainter p(this);
    if (FStretch)
        p.drawImage(rect(), Picture);
    else
        p.drawImage(0, 0, Picture);
}

void TImage::mousePressEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    FPressed = e->button() == Qt::LeftButton;
    if (OnMouseDown)
        OnMouseDown(this, toMouseButton(e->button()), toShiftState(e->buttons(), e->modifiers()), pos.x(),
                    pos.y());
}

void TImage::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(this, toShiftState(e->buttons(), e->modifiers()), pos.x(), pos.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(this, toMouseButton(e->button()), toShiftState(e->buttons(), e->modifiers()), pos.x(),
                  pos.y());
    const bool click = FPressed && e->button() == Qt::LeftButton && rect().contains(pos);
    FPressed = false;
    if (click && OnClick)
        OnClick(this);
}

void TLabel::setText(const QString& text)
{
    QLabel::setText(text);
    adjustSize();
}

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), FItems(items)
{
    auto* grid = new QGridLayout(this);
    const int rows = (items.size() + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) // filled column by column
        grid->addWidget(new QRadioButton(items[i], this), i % rows, i / rows);
}

int TRadioGroup::ItemIndex() const
{
    const auto buttons = findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < buttons.size(); ++i)
        if (buttons[i]->isChecked())
            return i;
    return -1;
}

void TRadioGroup::setItemIndex(int index)
{
    const auto buttons = findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    if (index >= 0 && index < buttons.size())
        buttons[index]->setChecked(true);
}

} // namespace kv::app
