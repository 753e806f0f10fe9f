// Connection texts: parsing, checking and masking never crash, and a password given after any
// text never shows in what may be shown (messages, the masked text, names).
#include "ConnectionText.h"
#include "FuzzText.h"
#include "VelError.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString secret = QStringLiteral("Zq9SecretPw");
    const QString fuzzed = FuzzText(data, size);
    if (fuzzed.contains(secret, Qt::CaseInsensitive))
        return 0;
    const ConnectionText text = ConnectionText::Parse(fuzzed + QStringLiteral(";Password=") + secret);
    QStringList shown{text.Masked(), text.Shown(text.User()), text.Shown(text.Database()),
                      text.Shown(text.Host()), text.Shown(text.DriverName())};
    try {
        text.Validate();
    } catch (const VelError &e) {
        shown << e.Description();
    }
    for (const QString &s : shown) {
        if (s.contains(secret))
            std::abort();
    }
    ConnectionText::Parse(text.Masked()).Masked();
    return 0;
}
