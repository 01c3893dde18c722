#pragma once

#include <QColor>
#include <QWidget>

namespace comkeys {

class TextBuffer;

// The receive display: a read-only, wrapping view of the received text without scroll bars that
// always shows its newest part. It paints only the tail that fits, so a long text costs nothing.
class ReceiveDisplay : public QWidget {
    Q_OBJECT
public:
    ReceiveDisplay(const TextBuffer& text, QWidget* parent = nullptr);
    QString text() const;

Q_SIGNALS:
    // The context menu's entry for bringing the log window on screen was chosen.
    void showLogRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    const TextBuffer& m_text;
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

// The icons of the two windows, drawn here rather than shipped as files.
QIcon mainWindowIcon();
QIcon logWindowIcon();

} // namespace comkeys
