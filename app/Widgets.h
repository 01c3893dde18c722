#pragma once

#include <QColor>
#include <QPainter>
#include <QComboBox>
#include <QPushButton>
#include <QWidget>

namespace comkeys {

// A graphical push button: a flat face in its own background colour (the palette's Button
// colour) inside a three-dimensional edge, rather than the style's shaded face.
class FaceButton : public QPushButton {
    Q_OBJECT
public:
    explicit FaceButton(const QString& text, QWidget* parent = nullptr);
    QColor face() const { return palette().color(QPalette::Button); }
    void setFace(const QColor& color);
    // A key that sends by itself shows a marker in its corner; an unmarked button paints as
    // it always did.
    bool isMarked() const { return m_marked; }
    void setMarked(bool marked);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_marked = false;
};

// The status indicator: an opaque filled circle with an outline in the default colour.
class StatusCircle : public QWidget {
    Q_OBJECT
public:
    explicit StatusCircle(QWidget* parent = nullptr);
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill = QColor(255, 0, 0);
};

// The port list: COM1 to COM15, then the serial devices the system reports, read afresh each
// time the list drops down (an adapter plugged in later appears), each with its description as
// a tooltip, then the network ports opened lately; the list is wide enough for whole device
// paths.
class PortCombo : public QComboBox {
    Q_OBJECT
public:
    static constexpr int FixedPorts = 15;
    explicit PortCombo(QWidget* parent = nullptr);
    // Network ports offered after the devices, newest first; shown from the next refresh.
    void setRecentPorts(const QStringList& ports) { m_recent = ports; }
    void refreshDevices();
    void showPopup() override;

private:
    QStringList m_recent;
};

// The icons of the two windows, drawn here rather than shipped as files; the installed
// application icons are drawn by the same code.
QIcon mainWindowIcon();
QIcon logWindowIcon();
void paintIcon(QPainter& painter, qreal size, bool log);
QPixmap iconPixmap(int size, bool log);

} // namespace comkeys
