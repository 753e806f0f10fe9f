// Filters as people write them: a JSON file (first byte even) or `--set KEY=VALUE` lines (odd),
// checked against the keys of a report the first byte picks.
#include "Dictionary.h"
#include "FilterCheck.h"
#include "FilterText.h"
#include "FuzzText.h"
#include "VelError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qint32 rptId = 10901 + data[0] / 2 % 6;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    try {
        DictionaryPtr filter = Dictionary::Create();
        if (data[0] % 2 == 0) {
            filter = FilterFromJson(rest);
        } else {
            for (const QString &line : FuzzText(data + 1, size - 1).split(u'\n')) {
                QString key, value;
                if (SplitKeyValue(line, &key, &value))
                    filter->SetValue(key, value);
            }
        }
        FilterCheck::CheckAndConvert(rptId, *filter);
    } catch (const VelError &) {
    }
    return 0;
}
