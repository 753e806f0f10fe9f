#include "BranchScope.h"

#include "VelError.h"

#include <algorithm>

BranchScope BranchScope::Branch(const QString &number)
{
    const QString trimmed = number.trimmed();
    const bool plain = std::none_of(trimmed.begin(), trimmed.end(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    });
    if (trimmed.isEmpty() || trimmed.size() > 40 || !plain)
        throw VelError(QStringLiteral("分店编号无效：应为 1 到 40 个字符，不含空白和控制字符"), Vel::ErrTypeMismatch);
    return BranchScope(trimmed);
}
