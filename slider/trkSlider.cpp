#include "trkSlider.h"

#include <QMouseEvent>
#include <QPainter>

#include <limits>
#include <utility>

namespace comkeys {

using namespace slider;

namespace {
    constexpr int PictureRailStyle = 99;
    constexpr int EdgeValues[] = { 10, 5, 2, 4, 0 }; // rail styles 0 to 4
    constexpr int BdrRaisedOuter = 1;
    constexpr int BdrSunkenOuter = 2;
    constexpr int BdrRaisedInner = 4;
    constexpr int BdrSunkenInner = 8;

    // The platform's three-dimensional edge colours.
    const QColor Highlight(255, 255, 255);
    const QColor Light(227, 227, 227);
    const QColor Shadow(160, 160, 160);
    const QColor DarkShadow(105, 105, 105);

    [[noreturn]] void fail(int number, const char* what) { throw SliderError(number, what); }

    bool fits16(qint64 v) { return v >= std::numeric_limits<qint16>::min() && v <= std::numeric_limits<qint16>::max(); }
    bool fits32(qint64 v) { return v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max(); }

    std::uint32_t oleFromColor(const QColor& c) { return std::uint32_t(c.red()) | (c.green() << 8) | (c.blue() << 16); }

    QColor colorFromOle(std::uint32_t ole)
    {
        if (!(ole & 0x80000000u)) {
            return QColor(int(ole & 0xFF), int((ole >> 8) & 0xFF), int((ole >> 16) & 0xFF));
        }
        // A system colour by its index: the palette role that plays the same part.
        static constexpr QPalette::ColorRole Roles[] = {
            QPalette::Button, // 0 scroll bar
            QPalette::Window, // 1 desktop
            QPalette::Highlight, // 2 active caption
            QPalette::Mid, // 3 inactive caption
            QPalette::Window, // 4 menu
            QPalette::Base, // 5 window
            QPalette::Shadow, // 6 window frame
            QPalette::WindowText, // 7 menu text
            QPalette::WindowText, // 8 window text
            QPalette::HighlightedText, // 9 caption text
            QPalette::Button, // 10 active border
            QPalette::Button, // 11 inactive border
            QPalette::Dark, // 12 application workspace
            QPalette::Highlight, // 13 highlight
            QPalette::HighlightedText, // 14 highlighted text
            QPalette::Button, // 15 button face
            QPalette::Dark, // 16 button shadow
            QPalette::PlaceholderText, // 17 grey text
            QPalette::ButtonText, // 18 button text
            QPalette::Mid, // 19 inactive caption text
            QPalette::Light, // 20 button highlight
            QPalette::Shadow, // 21 dark shadow
            QPalette::Midlight, // 22 light
            QPalette::ToolTipText, // 23 info text
            QPalette::ToolTipBase, // 24 info background
        };
        const std::uint32_t index = ole & 0xFF;
        return QPalette().color(index < std::size(Roles) ? Roles[index] : QPalette::Window);
    }

    int buttonMask(Qt::MouseButton b)
    {
        switch (b) {
        case Qt::LeftButton:
            return 1;
        case Qt::RightButton:
            return 2;
        case Qt::MiddleButton:
            return 4;
        default:
            return 0;
        }
    }

    qint16 shiftMask(Qt::KeyboardModifiers m)
    {
        return qint16(((m & Qt::ShiftModifier) ? 1 : 0) | ((m & Qt::ControlModifier) ? 2 : 0)
                      | ((m & Qt::AltModifier) ? 4 : 0));
    }

    std::optional<qint64> integerOf(const QVariant& v)
    {
        bool ok = false;
        const qint64 x = v.toLongLong(&ok);
        return ok ? std::optional<qint64>(x) : std::nullopt;
    }

    QPixmap pictureOf(const QVariant& v)
    {
        if (v.metaType().id() == QMetaType::QImage) {
            return QPixmap::fromImage(v.value<QImage>());
        }
        return v.value<QPixmap>();
    }

    // An image takes the size of a picture assigned to it.
    void assignPicture(QPixmap& image, QRectF& rect, const QPixmap& picture)
    {
        image = picture;
        if (!picture.isNull()) {
            rect.setSize(picture.deviceIndependentSize());
        }
    }

} // namespace

template <class F>
bool trkSlider::reporting(const char* property, F&& setter)
{
    // A broken rule stops the setter or handler; it never leaves into Qt.
    try {
        setter();
        return true;
    } catch (const SliderError& e) {
        Q_EMIT errorOccurred(e.number(), QString::fromLatin1(property));
        return false;
    }
}

trkSlider::trkSlider(QWidget* parent)
    : QWidget(parent)
    , m_backColor(207, 207, 207)
    , m_oleBackColor(oleFromColor(QColor(207, 207, 207)))
    , m_thumb(0, 0, 16, 16)
    , m_railImage(4, 21, 22, 20)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(35, 52);
    InitProperties();
    applySizePolicy();
}

void trkSlider::InitProperties()
{
    m_Enabled = true;
    m_Orientation = Vertical;
    m_RailStyle = 0;
    m_ShowValueTip = true;
    m_Min = 0;
    m_Max = 10;
    m_Value = 0;
    m_Step = 1;
    m_Range = 10;
    PlaceSliderAtStart();
    m_hWnd = 0;
}

// Properties. Each setter checks, assigns, repaints where it says so, and notifies last.

void trkSlider::setSliderEnabled(bool New_Enabled)
{
    const bool changed = m_Enabled != New_Enabled;
    m_Enabled = New_Enabled;
    Q_EMIT PropertyChanged(QStringLiteral("Enabled"));
    if (changed) {
        Q_EMIT sliderEnabledChanged(m_Enabled);
    }
}

void trkSlider::setBackColor(const QColor& New_BackColor)
{
    const bool changed = m_backColor != New_BackColor;
    m_backColor = New_BackColor;
    m_oleBackColor = oleFromColor(New_BackColor);
    PaintRail();
    Q_EMIT PropertyChanged(QStringLiteral("BackColor"));
    if (changed) {
        Q_EMIT backColorChanged(m_backColor);
    }
}

// A form sets the bounds in one order whatever the range: Designer writes Max before Min, so a
// negative range comes back as Max -50 (refused while Min is 0), then Min -100. A bound refused
// because the other one is in the way is therefore kept for the next call only; when that call
// sets the other bound and makes room, the kept one follows.
void trkSlider::setMax(int New_Max)
{
    const std::optional<int> keptMin = std::exchange(m_refusedMin, std::nullopt);
    m_refusedMax.reset();
    if (!reporting("Max", [&] { setMaxOrThrow(New_Max); })) {
        if (New_Max <= m_Min) {
            m_refusedMax = New_Max;
        }
    } else if (keptMin && *keptMin < m_Max) {
        setMin(*keptMin);
    }
}

void trkSlider::setMin(int New_Min)
{
    const std::optional<int> keptMax = std::exchange(m_refusedMax, std::nullopt);
    m_refusedMin.reset();
    if (!reporting("Min", [&] { setMinOrThrow(New_Min); })) {
        if (New_Min >= m_Max) {
            m_refusedMin = New_Min;
        }
    } else if (keptMax && *keptMax > m_Min) {
        setMax(*keptMax);
    }
}

void trkSlider::setStep(int New_Step)
{
    forgetRefusedBounds();
    reporting("Step", [&] { setStepOrThrow(New_Step); });
}

void trkSlider::setValue(int New_Value)
{
    forgetRefusedBounds();
    reporting("Value", [&] { setValueOrThrow(New_Value); });
}

void trkSlider::setStoredValue(int New_StoredValue)
{
    forgetRefusedBounds();
    reporting("StoredValue", [&] {
        // The values the Value setter can store: Min x Step to Max x Step.
        const qint64 a = qint64(m_Min) * m_Step;
        const qint64 b = qint64(m_Max) * m_Step;
        if (New_StoredValue < std::min(a, b) || New_StoredValue > std::max(a, b)) {
            fail(SliderError::InvalidPropertyValue, "StoredValue lies outside Min x Step to Max x Step");
        }
        if (!fits16(New_StoredValue)) {
            fail(SliderError::Overflow, "StoredValue does not fit 16 bits");
        }
        applyValue(std::int16_t(New_StoredValue), New_StoredValue);
    });
}

void trkSlider::forgetRefusedBounds()
{
    m_refusedMax.reset();
    m_refusedMin.reset();
}

void trkSlider::storeValue(std::int16_t stored)
{
    const bool changed = m_Value != stored;
    m_Value = stored;
    if (changed) {
        Q_EMIT valueChanged(m_Value);
    }
}

void trkSlider::setMaxOrThrow(int New_Max)
{
    if (New_Max <= m_Min) {
        fail(SliderError::InvalidPropertyValue, "Max must be greater than Min");
    }
    const std::optional<std::int16_t> range = difference16(New_Max, m_Min);
    if (!fits16(New_Max) || !range) {
        fail(SliderError::Overflow, "Max, or Max - Min, does not fit 16 bits");
    }
    const bool changed = m_Max != New_Max;
    m_Max = std::int16_t(New_Max);
    m_Range = *range;
    Q_EMIT PropertyChanged(QStringLiteral("Max"));
    if (changed) {
        Q_EMIT maxChanged(m_Max);
    }
}

void trkSlider::setMinOrThrow(int New_Min)
{
    if (New_Min >= m_Max) {
        fail(SliderError::InvalidPropertyValue, "Min must be less than Max");
    }
    // Everything that could overflow is checked before anything changes.
    const std::optional<std::int16_t> range = difference16(m_Max, New_Min);
    if (!fits16(New_Min) || !range || !fits16(qint64(New_Min) * m_Step)) {
        fail(SliderError::Overflow, "Min, Min x Step or Max - Min does not fit 16 bits");
    }
    const bool changed = m_Min != New_Min;
    m_Min = std::int16_t(New_Min);
    setValueOrThrow(New_Min); // with the old range still in force
    // Taken afresh: a handler of the Value setter's events may have moved Max meanwhile.
    m_Range = difference16(m_Max, m_Min).value_or(m_Range);
    Q_EMIT PropertyChanged(QStringLiteral("Min"));
    if (changed) {
        Q_EMIT minChanged(m_Min);
    }
}

void trkSlider::setStepOrThrow(int New_Step)
{
    if (!fits16(New_Step)) {
        fail(SliderError::Overflow, "Step does not fit 16 bits");
    }
    const bool changed = m_Step != New_Step;
    m_Step = std::int16_t(New_Step);
    if (changed) {
        Q_EMIT stepChanged(m_Step);
    }
}

void trkSlider::setValueOrThrow(int New_Value)
{
    if (New_Value > m_Max || New_Value < m_Min) {
        fail(SliderError::InvalidPropertyValue, "Value lies outside Min to Max");
    }
    const qint64 stored = qint64(New_Value) * m_Step;
    if (!fits32(stored) || !fits16(stored)) {
        fail(SliderError::Overflow, "Value x Step does not fit 16 bits");
    }
    applyValue(std::int16_t(stored), New_Value); // the thumb goes where the argument belongs
}

void trkSlider::applyValue(std::int16_t stored, std::int32_t placeFor)
{
    storeValue(stored);
    // 0 always passes, so the Min end keeps reporting when Min is 0.
    if (m_Value != m_LastValue || m_Value == 0) {
        if (!m_Dragging) {
            placeThumbFor(placeFor);
        }
        PaintRail();
        m_LastValue = m_Value;
        Q_EMIT ValueChanged();
        if (m_Value == m_Max) {
            Q_EMIT ArrivedLast();
        }
        if (m_Value == m_Min) {
            Q_EMIT ArrivedFirst();
        }
    }
    Q_EMIT PropertyChanged(QStringLiteral("Value"));
}

void trkSlider::setOrientation(int New_Orientation)
{
    const bool changed = m_Orientation != New_Orientation;
    m_Orientation = New_Orientation;
    PlaceSliderAtStart();
    resizeLayout();
    Q_EMIT PropertyChanged(QStringLiteral("Orientation"));
    if (changed) {
        Q_EMIT orientationChanged(m_Orientation);
    }
}

void trkSlider::setRailStyle(int New_RailStyle)
{
    const bool changed = m_RailStyle != New_RailStyle;
    m_RailStyle = New_RailStyle;
    resizeLayout();
    Q_EMIT PropertyChanged(QStringLiteral("RailStyle"));
    if (changed) {
        Q_EMIT railStyleChanged(m_RailStyle);
    }
}

void trkSlider::setSliderIcon(const QPixmap& New_SliderIcon)
{
    const bool changed = m_sliderPicture.cacheKey() != New_SliderIcon.cacheKey();
    assignPicture(m_sliderPicture, m_thumb, New_SliderIcon);
    resizeLayout();
    Q_EMIT PropertyChanged(QStringLiteral("SliderIcon"));
    if (changed) {
        Q_EMIT sliderIconChanged(m_sliderPicture);
    }
}

void trkSlider::setRailPicture(const QPixmap& New_RailPicture)
{
    const bool changed = m_railPicture.cacheKey() != New_RailPicture.cacheKey();
    assignPicture(m_railPicture, m_railImage, New_RailPicture);
    resizeLayout();
    Q_EMIT PropertyChanged(QStringLiteral("RailPicture"));
    if (changed) {
        Q_EMIT railPictureChanged(m_railPicture);
    }
}

void trkSlider::setHWnd(int New_hWnd)
{
    const bool changed = m_hWnd != New_hWnd;
    m_hWnd = New_hWnd;
    Q_EMIT PropertyChanged(QStringLiteral("hWnd"));
    if (changed) {
        Q_EMIT hWndChanged(m_hWnd);
    }
}

// Persistence.

void trkSlider::ReadProperties(const PropertyBag& bag)
{
    auto integer = [&bag](const char* name, qint64 def, bool sixteen) {
        const std::optional<qint64> v = integerOf(bag.ReadProperty(QString::fromLatin1(name), def));
        if (!v || (sixteen ? !fits16(*v) : !fits32(*v))) {
            fail(SliderError::Overflow, "a saved entry does not fit its type");
        }
        return *v;
    };
    // Everything is read and checked first, so a bad bag changes nothing.
    const auto backColor = std::uint32_t(integer("BackColor", qint32(SystemButtonFace), false));
    const bool enabled = bag.ReadProperty(QStringLiteral("Enabled"), true).toBool();
    const auto orientation = std::int32_t(integer("Orientation", 1, false));
    const auto railStyle = std::int32_t(integer("RailStyle", 0, false));
    const bool showValueTip = bag.ReadProperty(QStringLiteral("ShowValueTip"), true).toBool();
    const auto min = std::int16_t(integer("Min", 0, true));
    const auto max = std::int16_t(integer("Max", 10, true));
    const auto value = std::int16_t(integer("Value", 0, true));
    const auto step = std::int16_t(integer("Step", 1, true));
    const QPixmap icon = pictureOf(bag.ReadProperty(QStringLiteral("SliderIcon"), QVariant::fromValue(QPixmap())));
    const QPixmap rail = pictureOf(bag.ReadProperty(QStringLiteral("RailPicture"), QVariant::fromValue(QPixmap())));
    const auto hWnd = std::int32_t(integer("hWnd", 0, false));
    const std::optional<std::int16_t> range = difference16(max, min);
    if (!range) {
        fail(SliderError::Overflow, "the saved Max - Min does not fit 16 bits");
    }

    m_oleBackColor = backColor;
    m_backColor = colorFromOle(backColor);
    m_Enabled = enabled;
    m_Orientation = orientation;
    m_RailStyle = railStyle;
    m_ShowValueTip = showValueTip;
    m_Min = min;
    m_Max = max;
    m_Value = value;
    m_Step = step;
    assignPicture(m_sliderPicture, m_thumb, icon);
    assignPicture(m_railPicture, m_railImage, rail);
    // Kept as stored even when Max is not above Min; placements then skip the zero range.
    m_Range = *range;
    if (const auto left = sliderPosFromValue(Horizontal, width() - m_thumb.width(), m_Value, m_Min, m_Range)) {
        m_thumb.moveLeft(*left);
    }
    if (const auto top = sliderPosFromValue(Vertical, height() - m_thumb.height(), m_Value, m_Min, m_Range)) {
        m_thumb.moveTop(*top);
    }
    m_hWnd = hWnd;
    // Layouts learn the restored orientation; the size itself waits for the next layout.
    applySizePolicy();
}

void trkSlider::WriteProperties(PropertyBag& bag) const
{
    const QVariant noPicture = QVariant::fromValue(QPixmap());
    bag.WriteProperty(QStringLiteral("BackColor"), qint32(m_oleBackColor), qint32(SystemButtonFace));
    bag.WriteProperty(QStringLiteral("Enabled"), m_Enabled, true);
    bag.WriteProperty(QStringLiteral("SliderIcon"), QVariant::fromValue(m_sliderPicture), noPicture);
    bag.WriteProperty(QStringLiteral("Orientation"), qint32(m_Orientation), qint32(1));
    bag.WriteProperty(QStringLiteral("RailPicture"), QVariant::fromValue(m_railPicture), noPicture);
    bag.WriteProperty(QStringLiteral("RailStyle"), qint32(m_RailStyle), qint32(0));
    bag.WriteProperty(QStringLiteral("ShowValueTip"), m_ShowValueTip, true);
    bag.WriteProperty(QStringLiteral("Min"), QVariant::fromValue(m_Min), QVariant::fromValue(qint16(0)));
    bag.WriteProperty(QStringLiteral("Max"), QVariant::fromValue(m_Max), QVariant::fromValue(qint16(10)));
    bag.WriteProperty(QStringLiteral("Value"), QVariant::fromValue(m_Value), QVariant::fromValue(qint16(0)));
    bag.WriteProperty(QStringLiteral("Step"), QVariant::fromValue(m_Step), QVariant::fromValue(qint16(1)));
    bag.WriteProperty(QStringLiteral("hWnd"), qint32(m_hWnd), qint32(0));
}

// Geometry.

double trkSlider::travel() const
{
    if (m_Orientation == Horizontal) {
        return width() - double(m_thumb.width());
    }
    if (m_Orientation == Vertical) {
        return height() - double(m_thumb.height());
    }
    return 0;
}

void trkSlider::placeThumbFor(std::int32_t n)
{
    const std::optional<float> pos = sliderPosFromValue(m_Orientation, travel(), n, m_Min, m_Range);
    if (!pos) {
        return;
    }
    if (m_Orientation == Horizontal) {
        m_thumb.moveLeft(*pos);
    } else {
        m_thumb.moveTop(*pos);
    }
}

void trkSlider::PlaceSliderAtStart()
{
    if (m_Orientation == Horizontal) {
        m_thumb.moveLeft(0);
    } else if (m_Orientation == Vertical) {
        m_thumb.moveLeft(0);
        m_thumb.moveTop(float(height() - m_thumb.height()));
    }
}

bool trkSlider::pictureRailInUse() const { return m_RailStyle == PictureRailStyle && !m_railPicture.isNull(); }

void trkSlider::fitOuterSize()
{
    const int railW = qRound(m_railImage.width());
    const int railH = qRound(m_railImage.height());
    const int sw = qRound(m_thumb.width());
    const int sh = qRound(m_thumb.height());
    // On a visible control each resize runs the layout again inside this one; that inner run
    // finds the size fitted and changes it no further.
    if (pictureRailInUse()) {
        if (m_Orientation == Horizontal) {
            resize(railW + 4, sh < railH ? railH : sh);
        } else if (m_Orientation == Vertical) {
            resize(sw < railW ? railW : sw, railH + 4);
        }
    } else if (m_Orientation == Horizontal) {
        resize(width() == 0 ? sw : width(), sh);
    } else if (m_Orientation == Vertical) {
        resize(sw, height() == 0 ? sh : height());
    }
}

void trkSlider::applySizePolicy()
{
    // Layouts choose the length along the rail; the breadth is the thumb's, and a picture rail
    // has one size only. No size constraints: a size set from outside stands until the next
    // layout.
    const bool picture = pictureRailInUse();
    if (m_Orientation == Horizontal) {
        setSizePolicy(picture ? QSizePolicy::Fixed : QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else if (m_Orientation == Vertical) {
        setSizePolicy(QSizePolicy::Fixed, picture ? QSizePolicy::Fixed : QSizePolicy::Expanding);
    }
    updateGeometry();
}

QSize trkSlider::sizeHint() const
{
    const int sw = qRound(m_thumb.width());
    const int sh = qRound(m_thumb.height());
    if (pictureRailInUse()) {
        const int railW = qRound(m_railImage.width());
        const int railH = qRound(m_railImage.height());
        return m_Orientation == Horizontal ? QSize(railW + 4, std::max(sh, railH))
                                           : QSize(std::max(sw, railW), railH + 4);
    }
    if (m_Orientation == Horizontal) {
        return QSize(sw * 8, sh);
    }
    return m_Orientation == Vertical ? QSize(sw, sh * 8) : size();
}

QSize trkSlider::minimumSizeHint() const
{
    if (pictureRailInUse()) {
        return sizeHint();
    }
    const int sw = qRound(m_thumb.width());
    const int sh = qRound(m_thumb.height());
    if (m_Orientation == Horizontal) {
        return QSize(sw * 2, sh);
    }
    return m_Orientation == Vertical ? QSize(sw, sh * 2) : QSize(1, 1);
}

void trkSlider::resizeLayout()
{
    applySizePolicy();
    fitOuterSize();
    placeAndPaint();
}

void trkSlider::placeAndPaint()
{
    const bool picture = pictureRailInUse();
    const double railW = m_railImage.width();
    const double railH = m_railImage.height();
    const double sw = m_thumb.width();
    const double sh = m_thumb.height();
    if (m_Orientation == Horizontal) {
        m_thumb.moveTop(sh < railH && picture ? float((railH - sh) * 0.5) : 0.0f);
        placeThumbFor(m_Value);
    } else if (m_Orientation == Vertical) {
        m_thumb.moveLeft(sw < railW && picture ? float((railW - sw) * 0.5) : 0.0f);
        placeThumbFor(m_Value);
    }
    if (const std::optional<RailRect> rail = slider::railRect(m_Orientation, sw, sh, width(), height())) {
        m_RailRect = *rail;
    }
    PaintRail();
}

std::int16_t trkSlider::ValueFromSlider()
{
    if (!m_Dragging) {
        return 0;
    }
    const float position = m_Orientation == Horizontal ? float(m_thumb.left()) : float(m_thumb.top());
    const Snap snap = valueFromSlider(m_Orientation, travel(), position, m_Min, m_Range);
    if (snap.position) {
        if (m_Orientation == Horizontal) {
            m_thumb.moveLeft(*snap.position);
        } else {
            m_thumb.moveTop(*snap.position);
        }
    }
    return snap.value;
}

// Drawing.

void trkSlider::drawEdge(QPainter& painter, int edge) const
{
    auto ring = [&](int inset, const QColor& topLeft, const QColor& bottomRight) {
        const int l = m_RailRect.Left + inset;
        const int t = m_RailRect.Top + inset;
        const int r = m_RailRect.Right - 1 - inset;
        const int b = m_RailRect.Bottom - 1 - inset;
        if (r < l || b < t) {
            return;
        }
        painter.fillRect(QRect(QPoint(l, t), QPoint(r - 1, t)), topLeft);
        painter.fillRect(QRect(QPoint(l, t), QPoint(l, b - 1)), topLeft);
        painter.fillRect(QRect(QPoint(l, b), QPoint(r, b)), bottomRight);
        painter.fillRect(QRect(QPoint(r, t), QPoint(r, b)), bottomRight);
    };
    if (edge & BdrRaisedOuter) {
        ring(0, Light, DarkShadow);
    } else if (edge & BdrSunkenOuter) {
        ring(0, Shadow, Highlight);
    }
    // A thin line (an inner border alone) lies on the rectangle itself.
    const int inner = (edge & (BdrRaisedOuter | BdrSunkenOuter)) ? 1 : 0;
    if (edge & BdrRaisedInner) {
        ring(inner, Highlight, Shadow);
    } else if (edge & BdrSunkenInner) {
        ring(inner, DarkShadow, Light);
    }
}

void trkSlider::PaintRail()
{
    if (m_surface.size() != size()) {
        m_surface = QPixmap(size().expandedTo(QSize(1, 1)));
    }
    m_surface.fill(m_backColor);
    {
        QPainter painter(&m_surface);
        if (m_RailStyle == PictureRailStyle) {
            if (!m_railPicture.isNull()) {
                if (m_Orientation == Horizontal) {
                    painter.drawPixmap(QPointF(2, (height() - m_railImage.height()) * 0.5), m_railPicture);
                } else if (m_Orientation == Vertical) {
                    painter.drawPixmap(QPointF((width() - m_railImage.width()) * 0.5, 2), m_railPicture);
                }
            }
        } else if (m_RailStyle >= 0 && m_RailStyle <= 4) {
            drawEdge(painter, EdgeValues[m_RailStyle]);
        }
        if (!m_sliderPicture.isNull()) {
            painter.drawPixmap(m_thumb.topLeft(), m_sliderPicture);
        }
    }
    update();
}

void trkSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_surface.isNull()) {
        painter.fillRect(rect(), m_backColor);
        return;
    }
    painter.drawPixmap(0, 0, m_surface);
}

void trkSlider::resizeEvent(QResizeEvent*)
{
    fitOuterSize();
    placeAndPaint();
}

void trkSlider::showEvent(QShowEvent*) { PaintRail(); }

// Mouse.

void trkSlider::mousePressEvent(QMouseEvent* event)
{
    if (!m_Enabled || buttonMask(event->button()) != 1) {
        return;
    }
    const auto x = float(event->position().x());
    const auto y = float(event->position().y());
    const qint16 shift = shiftMask(event->modifiers());
    reporting("Value", [&] {
        m_Dragging = true;
        const float l = float(m_thumb.left());
        const float w = float(m_thumb.width());
        const float t = float(m_thumb.top());
        const float h = float(m_thumb.height());
        const bool onThumb = x >= l && x < float(l + w) && y >= t && y < float(t + h);
        if (onThumb) {
            m_GrabX = float(x - l);
            m_GrabY = float(y - t);
        } else {
            m_GrabX = w / 2;
            m_GrabY = h / 2;
            pointerMoved(x, y);
        }
        Q_EMIT MouseDown(shift);
    });
}

void trkSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_Dragging) {
        return;
    }
    reporting("Value", [&] { pointerMoved(float(event->position().x()), float(event->position().y())); });
}

void trkSlider::pointerMoved(float x, float y)
{
    if (!m_Dragging) {
        return;
    }
    if (m_Orientation == Horizontal) {
        const float p = float(x - m_GrabX);
        const float limit = float(width() - m_thumb.width());
        m_thumb.moveLeft(p < 0 ? 0 : p > limit ? limit : p);
    } else if (m_Orientation == Vertical) {
        const float p = float(y - m_GrabY);
        const float limit = float(height() - m_thumb.height());
        m_thumb.moveTop(p < 0 ? 0 : p > limit ? limit : p);
    }
    setValueOrThrow(ValueFromSlider());
}

void trkSlider::mouseReleaseEvent(QMouseEvent* event)
{
    const double x = event->position().x();
    const double y = event->position().y();
    const qint16 shift = shiftMask(event->modifiers());
    if (buttonMask(event->button()) == 1 && x >= 0 && x < width() && y >= 0 && y < height()) {
        Q_EMIT Click();
    }
    if (m_Dragging) {
        Q_EMIT MouseUp(shift);
    }
    m_Dragging = false;
}

} // namespace comkeys
