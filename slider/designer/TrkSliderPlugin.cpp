#include "TrkSliderPlugin.h"

#include "trkSlider.h"

#include <QPainter>

TrkSliderPlugin::TrkSliderPlugin(QObject* parent)
    : QObject(parent)
{
}

QString TrkSliderPlugin::name() const { return QStringLiteral("comkeys::trkSlider"); }

QString TrkSliderPlugin::group() const { return QStringLiteral("ComKeys"); }

QString TrkSliderPlugin::toolTip() const { return QStringLiteral("A rail and a thumb reporting a whole value"); }

QString TrkSliderPlugin::whatsThis() const
{
    return QStringLiteral("trkSlider: drag its thumb along the rail to set Value between Min and Max.");
}

QString TrkSliderPlugin::includeFile() const { return QStringLiteral("trkSlider.h"); }

QIcon TrkSliderPlugin::icon() const
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(105, 105, 105));
    p.drawLine(2, 11, 19, 11);
    p.setBrush(QColor(20, 60, 160));
    p.drawEllipse(QRect(8, 5, 11, 11));
    return QIcon(pixmap);
}

bool TrkSliderPlugin::isContainer() const { return false; }

QWidget* TrkSliderPlugin::createWidget(QWidget* parent) { return new comkeys::trkSlider(parent); }

QString TrkSliderPlugin::domXml() const
{
    return QStringLiteral("<ui language=\"c++\">\n"
                          " <widget class=\"comkeys::trkSlider\" name=\"slider\">\n"
                          "  <property name=\"geometry\"><rect><x>0</x><y>0</y><width>128</width><height>16</height></rect></property>\n"
                          "  <property name=\"Orientation\"><number>0</number></property>\n"
                          "  <property name=\"SliderIcon\"><pixmap>:/comkeys/slider/thumb.png</pixmap></property>\n"
                          " </widget>\n"
                          "</ui>\n");
}
