#pragma once

#include "ComKeysSliderExport.h"
#include "PropertyBag.h"
#include "SliderError.h"
#include "SliderGeometry.h"

#include <QColor>
#include <QPixmap>
#include <QRectF>
#include <QWidget>
#include <cstdint>

namespace comkeys {

// A rail and a draggable thumb reporting a whole value between Min and Max. Geometry is in
// pixels of the control's client area; outer sizes are also offered in twips (pixels x 15).
//
// Two ways to set Max, Min, Step and Value:
// - setMax() and the other Qt setters, which are also the properties' WRITE accessors and slots:
//   a value that breaks a rule changes nothing and emits errorOccurred(number, property). They
//   never throw, so signals, setProperty(), Designer and queued calls can reach them safely.
// - setMaxOrThrow() and its kin, for C++ callers that want the rule as an exception: they throw
//   SliderError (380 invalid value, 6 overflow) and change nothing.
// Mouse handling never lets an error escape either: it reports it through errorOccurred.
class COMKEYS_SLIDER_EXPORT trkSlider : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ sliderEnabled WRITE setSliderEnabled NOTIFY sliderEnabledChanged)
    Q_PROPERTY(QColor BackColor READ backColor WRITE setBackColor NOTIFY backColorChanged)
    Q_PROPERTY(int Max READ max WRITE setMax NOTIFY maxChanged)
    Q_PROPERTY(int Min READ min WRITE setMin NOTIFY minChanged)
    Q_PROPERTY(int Step READ step WRITE setStep NOTIFY stepChanged)
    // Designer and the code uic makes from a form set StoredValue, which reads and writes the
    // same number; Value's setter multiplies by Step, so it is not offered there.
    Q_PROPERTY(int Value READ value WRITE setValue NOTIFY valueChanged USER true DESIGNABLE false)
    Q_PROPERTY(int StoredValue READ value WRITE setStoredValue NOTIFY valueChanged)
    Q_PROPERTY(int Orientation READ orientation WRITE setOrientation NOTIFY orientationChanged)
    Q_PROPERTY(int RailStyle READ railStyle WRITE setRailStyle NOTIFY railStyleChanged)
    Q_PROPERTY(QPixmap SliderIcon READ sliderIcon WRITE setSliderIcon NOTIFY sliderIconChanged)
    Q_PROPERTY(QPixmap RailPicture READ railPicture WRITE setRailPicture NOTIFY railPictureChanged)
    Q_PROPERTY(int hWnd READ hWnd WRITE setHWnd NOTIFY hWndChanged)
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
    QColor backColor() const { return m_backColor; }
    int max() const { return m_Max; }
    int min() const { return m_Min; }
    int step() const { return m_Step; }
    int value() const { return m_Value; }
    int orientation() const { return m_Orientation; }
    int railStyle() const { return m_RailStyle; }
    QPixmap sliderIcon() const { return m_sliderPicture; }
    QPixmap railPicture() const { return m_railPicture; }
    int hWnd() const { return m_hWnd; }

    // The setters that throw SliderError instead of reporting errorOccurred.
    void setMaxOrThrow(int New_Max);
    void setMinOrThrow(int New_Min);
    void setStepOrThrow(int New_Step);
    void setValueOrThrow(int New_Value);

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

    // Fit the thumb and the rail: the picture rail's own size, else room for the thumb to
    // travel along the orientation and exactly the thumb across it.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public Q_SLOTS:
    void setSliderEnabled(bool New_Enabled);
    void setBackColor(const QColor& New_BackColor);
    void setMax(int New_Max);
    void setMin(int New_Min);
    void setStep(int New_Step);
    void setValue(int New_Value);
    // Sets the stored value itself (what value() returns), between Min x Step and Max x Step.
    void setStoredValue(int New_StoredValue);
    void setOrientation(int New_Orientation);
    void setRailStyle(int New_RailStyle);
    void setSliderIcon(const QPixmap& New_SliderIcon);
    void setRailPicture(const QPixmap& New_RailPicture);
    void setHWnd(int New_hWnd);

Q_SIGNALS:
    // Left-button release inside the control.
    void Click();
    // The Value setter stored Min (after ValueChanged).
    void ArrivedFirst();
    // The Value setter stored Max (after ValueChanged, before ArrivedFirst).
    void ArrivedLast();
    // The Value setter stored a value that differs from the last one reported, or 0.
    void ValueChanged();
    // A left-button press on the enabled control, after any value change it caused. Shift is the
    // mask of shift keys (1 Shift, 2 Ctrl, 4 Alt), passed by value: nothing reads it back.
    void MouseDown(qint16 Shift);
    // A button release that ends a press.
    void MouseUp(qint16 Shift);
    // A persisted property changed (last step of its setter): the host's design is dirty.
    void PropertyChanged(const QString& name);
    // A setter reached through Qt (or the mouse) met a broken rule: number 380 or 6, the property
    // it concerns; nothing changed.
    void errorOccurred(int number, const QString& property);

    // Each property's value changed, from whatever setter; for bindings and QSignalSpy. Unlike
    // ValueChanged(), valueChanged(int) fires for every change of the stored value and only then.
    void sliderEnabledChanged(bool Enabled);
    void backColorChanged(const QColor& BackColor);
    void maxChanged(int Max);
    void minChanged(int Min);
    void stepChanged(int Step);
    void valueChanged(int Value);
    void orientationChanged(int Orientation);
    void railStyleChanged(int RailStyle);
    void sliderIconChanged(const QPixmap& SliderIcon);
    void railPictureChanged(const QPixmap& RailPicture);
    void hWndChanged(int hWnd);

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
    bool pictureRailInUse() const;
    void pointerMoved(float x, float y);
    void drawEdge(QPainter& painter, int edge) const;
    // The layout's steps: fit the outer size to the thumb and rail; then thumb, rail rectangle
    // and painting.
    void fitOuterSize();
    void placeAndPaint();
    // Tells layouts which sides the layout fits (see sizeHint()).
    void applySizePolicy();
    void storeValue(std::int16_t stored);
    // The Value setter from its gate on: store, place the thumb for placeFor, paint, raise.
    void applyValue(std::int16_t stored, std::int32_t placeFor);
    void forgetRefusedBounds();
    template <class F>
    bool reporting(const char* property, F&& setter);

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
    // A bound the other one refused, kept for the next setter call (see setMax()).
    std::optional<int> m_refusedMax;
    std::optional<int> m_refusedMin;
};

} // namespace comkeys
