#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// The fuzzer's bytes as the UTF-8 text a user or a file would give.
inline QString FuzzText(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}
