// Built outside this project from a form drawn in Qt Designer (form.ui): every slider on it must
// come back with the geometry and each property the file gives it.
#include "ui_form.h"

#include <QApplication>
#include <QFile>
#include <QRect>
#include <QXmlStreamReader>
#include <trkSlider.h>

#include <cstdio>

namespace {

// The value of the <property> element the reader stands in, for the types the form uses.
QVariant propertyValue(QXmlStreamReader& xml)
{
    if (!xml.readNextStartElement()) {
        return {};
    }
    if (xml.name() == u"rect") {
        int r[4] = {};
        for (int& part : r) {
            xml.readNextStartElement();
            part = xml.readElementText().toInt();
        }
        return QRect(r[0], r[1], r[2], r[3]);
    }
    if (xml.name() == u"number") {
        return xml.readElementText().toInt();
    }
    if (xml.name() == u"bool") {
        return xml.readElementText() == u"true";
    }
    if (xml.name() == u"pixmap") {
        return QPixmap(xml.readElementText());
    }
    return xml.readElementText();
}

bool same(const QVariant& inFile, const QVariant& inProgram)
{
    if (inFile.metaType().id() == QMetaType::QPixmap) {
        const QImage a = inFile.value<QPixmap>().toImage();
        return !a.isNull() && a == inProgram.value<QPixmap>().toImage();
    }
    return inFile == inProgram;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget form;
    Ui::Form ui;
    ui.setupUi(&form);
    form.show();
    QApplication::processEvents();

    QFile file(QStringLiteral(FORM_FILE));
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("cannot read %s\n", FORM_FILE);
        return 1;
    }
    QXmlStreamReader xml(&file);
    comkeys::trkSlider* slider = nullptr;
    int checked = 0;
    int wrong = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"widget") {
            slider = nullptr;
        } else if (xml.isStartElement() && xml.name() == u"widget"
                   && xml.attributes().value(QLatin1String("class")) == u"comkeys::trkSlider") {
            slider = form.findChild<comkeys::trkSlider*>(xml.attributes().value(QLatin1String("name")).toString());
            wrong += slider ? 0 : 1;
        } else if (slider && xml.isStartElement() && xml.name() == u"property") {
            const QString name = xml.attributes().value(QLatin1String("name")).toString();
            const QVariant inFile = propertyValue(xml);
            const QVariant inProgram = name == u"geometry" ? QVariant(slider->geometry()) : slider->property(name.toLatin1().constData());
            ++checked;
            if (!same(inFile, inProgram)) {
                ++wrong;
                std::printf("%s.%s: the form says %s, the program has %s\n", qPrintable(slider->objectName()),
                            qPrintable(name), qPrintable(inFile.toString()), qPrintable(inProgram.toString()));
            }
        }
    }
    // The library's exception reaches a program outside it.
    int thrown = 0;
    try {
        ui.stepped->setValueOrThrow(11);
    } catch (const comkeys::SliderError& e) {
        thrown = e.number();
    }
    const bool ok = !xml.hasError() && checked > 0 && wrong == 0 && thrown == 380;
    std::printf("%d properties checked against the form, %d wrong, thrown %d: %s\n", checked, wrong, thrown,
                ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
