// libFuzzer target: any bytes as a profile. Reading must not crash, and a value written into
// whatever the file holds must read back exactly.
#include "KeySet.h"
#include "Profile.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

using namespace comkeys;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    Profile profile(QStringLiteral("/nonexistent/fuzz.ini"));
    profile.setBytes(bytes);
    (void)profile.value(u"KeyName", u"key1");
    (void)profile.value(u"KeySend", u"Send192");

    profile.setValue(QStringLiteral("KeySend"), QStringLiteral("Send7"), QStringLiteral("\" AT \""));
    Profile again(QStringLiteral("/nonexistent/fuzz.ini"));
    again.setBytes(profile.bytes());
    const std::optional<QString> back = again.value(u"KeySend", u"Send7");
    if (!back || *back != QStringLiteral(" AT ")) {
        std::abort();
    }
    return 0;
}
