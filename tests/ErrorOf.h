#pragma once

#include "VelError.h"

#include <QString>

// The description of the error that `run` throws; empty when it throws none.
template <class Run>
QString ErrorOf(Run &&run)
{
    try {
        run();
    } catch (const VelError &e) {
        return e.Description();
    }
    return QString();
}
