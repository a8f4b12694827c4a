#pragma once
// Small widgets the main window is built from: a panel and a picture with a Tag (the
// window keeps its mode and the strip position there), an auto-sizing label and a radio group.
#include "controls/ShiftState.h"

#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QStringList>
#include <QWidget>

#include <functional>

namespace kv::app {

using kv::controls::TMouseButton;
using kv::controls::TShiftState;

class TPanel : public QWidget {
    Q_OBJECT
  public:
    explicit TPanel(QWidget* parent = nullptr, QColor colour = Qt::black);
    int Tag = 0;
};

// A picture. Picture is the image shown (and painted on, e.g. the progress strip); call
// update() after painting on it. AutoSize makes the widget take the picture's size.
class TImage : public QWidget {
    Q_OBJECT
  public:
    explicit TImage(QWidget* parent = nullptr);

    QImage Picture;
    int Tag = 0;

    void setPicture(const QImage& image);
    bool Stretch() const { return FStretch; }
    void setStretch(bool on);
    bool AutoSize() const { return FAutoSize; }
    void setAutoSize(bool on);

    std::function<void(TImage* sender, TMouseButton, TShiftState, int x, int y)> OnMouseDown;
    std::function<void(TImage* sender, TMouseButton, TShiftState, int x, int y)> OnMouseUp;
    std::function<void(TImage* sender, TShiftState, int x, int y)> OnMouseMove;
    std::function<void(TImage* sender)> OnClick;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool FStretch = false;
    bool FAutoSize = false;
    bool FPressed = false;
};

// A label that takes the size of its text whenever the text changes.
class TLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
    void setText(const QString& text);
};

// A titled group of radio items in columns; ItemIndex is the checked one (-1 none).
class TRadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);
    int ItemIndex() const;
    void setItemIndex(int index);
    const QStringList& Items() const { return FItems; }

  private:
    QStringList FItems;
};

} // namespace kv::app
