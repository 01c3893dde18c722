// Built against the installed package only: no AUTOMOC here, no include path of the source tree.
#include <QApplication>
#include <QSpinBox>
#include <trkSlider.h>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    comkeys::trkSlider slider;
    QSpinBox spin;
    spin.setRange(-100, 100);
    QObject::connect(&spin, &QSpinBox::valueChanged, &slider, &comkeys::trkSlider::setValue);
    QObject::connect(&slider, &comkeys::trkSlider::valueChanged, &spin, &QSpinBox::setValue);
    int errors = 0;
    QObject::connect(&slider, &comkeys::trkSlider::errorOccurred, [&](int number, const QString&) {
        errors += number == 380 ? 1 : 100;
    });
    spin.setValue(50); // beyond Max: reported, never thrown
    spin.setValue(7);
    slider.setValue(3);
    int thrown = 0;
    try {
        slider.setValueOrThrow(11);
    } catch (const comkeys::SliderError& e) {
        thrown = e.number();
    }
    const bool ok = errors == 1 && slider.value() == 3 && spin.value() == 3 && thrown == 380;
    std::printf("errors %d, value %d, spin %d, thrown %d: %s\n", errors, slider.value(), spin.value(), thrown,
                ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
