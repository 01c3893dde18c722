#pragma once

#include "PropertyBag.h"
#include "SliderError.h"
#include "SliderGeometry.h"

#include <QColor>
#include <QPixmap>
#include <QRectF>
#include <QWidget>
#include <cstdint>

namespace comkeys {

// A rail and a draggable thumb reporting a whole value between Min and Max. Setters that break a
// rule throw SliderError (380 or 6) and change nothing; mouse handlers never let one escape.
// Geometry is in pixels of the control's client area; outer sizes are also offered in twips
// (pixels x 15).
class trkSlider : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ sliderEnabled WRITE setSliderEnabled)
    Q_PROPERTY(QColor BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(int Max READ max WRITE setMax)
    Q_PROPERTY(int Min READ min WRITE setMin)
    Q_PROPERTY(int Step READ step WRITE setStep)
    Q_PROPERTY(int Value READ value WRITE setValue USER true)
    Q_PROPERTY(int Orientation READ orientation WRITE setOrientation)
    Q_PROPERTY(int RailStyle READ railStyle WRITE setRailStyle)
    Q_PROPERTY(QPixmap SliderIcon READ sliderIcon WRITE setSliderIcon)
    Q_PROPERTY(QPixmap RailPicture READ railPicture WRITE setRailPicture)
    Q_PROPERTY(int hWnd READ hWnd WRITE setHWnd)
    Q_CLASSINFO("SliderIcon.Description", "Devuelve o establece el gráfico que se mostrar?en un control.")
    Q_CLASSINFO("hWnd.Description", "Returns a handle (from Microsoft Windows) to an object's window.")

public:
    // The bag's BackColor default: the system button-face colour, as an OLE colour.
    static constexpr std::uint32_t SystemButtonFace = 0x8000000F;

    // A new instance: the designed state, then InitProperties.
    explicit trkSlider(QWidget* parent = nullptr);

    // Enabled gates the mouse only; it is not QWidget's enabled state, which would swallow the
    // release that still raises Click on a disabled control.
    bool sliderEnabled() const { return m_Enabled; }
    void setSliderEnabled(bool New_Enabled);
    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor& New_BackColor);
    int max() const { return m_Max; }
    void setMax(int New_Max);
    int min() const { return m_Min; }
    void setMin(int New_Min);
    int step() const { return m_Step; }
    void setStep(int New_Step);
    int value() const { return m_Value; }
    void setValue(int New_Value);
    int orientation() const { return m_Orientation; }
    void setOrientation(int New_Orientation);
    int railStyle() const { return m_RailStyle; }
    void setRailStyle(int New_RailStyle);
    QPixmap sliderIcon() const { return m_sliderPicture; }
    void setSliderIcon(const QPixmap& New_SliderIcon);
    QPixmap railPicture() const { return m_railPicture; }
    void setRailPicture(const QPixmap& New_RailPicture);
    int hWnd() const { return m_hWnd; }
    void setHWnd(int New_hWnd);

    // Life cycle and persistence.
    void InitProperties();
    // Restores a saved design as stored (no validation, events or notifications). Throws
    // SliderError 6, changing nothing, for an entry that does not fit its type.
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    // Geometry and drawing.
    void resizeLayout();
    void PaintRail();
    void PlaceSliderAtStart();
    // The value the thumb's position stands for, snapping the thumb onto it (0 unless dragging).
    std::int16_t ValueFromSlider();

    QRectF thumbRect() const { return m_thumb; }
    QRectF railImageRect() const { return m_railImage; }
    slider::RailRect railRect() const { return m_RailRect; }
    bool isDragging() const { return m_Dragging; }
    int outerWidthTwips() const { return width() * 15; }
    int outerHeightTwips() const { return height() * 15; }
    // The drawing surface, which keeps what was painted until the next clear.
    const QPixmap& surface() const { return m_surface; }

Q_SIGNALS:
    // Left-button release inside the control.
    void Click();
    // The Value setter stored Min (after ValueChanged).
    void ArrivedFirst();
    // The Value setter stored Max (after ValueChanged, before ArrivedFirst).
    void ArrivedLast();
    // The Value setter stored a value that differs from the last one reported, or 0.
    void ValueChanged();
    // A left-button press on the enabled control, after any value change it caused.
    void MouseDown(qint16& Shift);
    // A button release that ends a press.
    void MouseUp(qint16& Shift);
    // A persisted property changed (last step of its setter): the host's design is dirty.
    void PropertyChanged(const QString& name);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double travel() const;
    void placeThumbFor(std::int32_t n);
    void setOuterSizeTwips(int width, int height);
    bool pictureRailInUse() const;
    void pointerMoved(float x, float y);
    void drawEdge(QPainter& painter, int edge) const;

    bool m_Dragging = false;
    float m_GrabX = 0;
    float m_GrabY = 0;
    slider::RailRect m_RailRect;
    std::int32_t m_Range = 0;
    bool m_Enabled = false;
    std::int32_t m_Orientation = 0;
    std::int32_t m_RailStyle = 0;
    bool m_ShowValueTip = false;
    std::int16_t m_Min = 0;
    std::int16_t m_Max = 0;
    std::int16_t m_Value = 0;
    std::int16_t m_Step = 0;
    std::int32_t m_hWnd = 0;
    std::int32_t m_LastValue = 0;

    QColor m_backColor;
    std::uint32_t m_oleBackColor = 0; // as the bag stores it, so a system colour survives
    QPixmap m_sliderPicture; // the thumb image `Slider`
    QRectF m_thumb;
    QPixmap m_railPicture; // the rail image `iRailPicture`
    QRectF m_railImage;
    QPixmap m_surface;
    int m_layoutDepth = 0;
};

} // namespace comkeys
