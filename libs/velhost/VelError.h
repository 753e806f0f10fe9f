#pragma once

#include "velhost_export.h"

#include <QByteArray>
#include <QString>

#include <exception>

// A failure inside a step: a number, a description and the source that raised it.
// Boundaries named by the contracts turn it into result values ("OK", "Error").
class VELHOST_EXPORT VelError : public std::exception
{
public:
    explicit VelError(QString description, qint32 number = 0, QString source = QString())
        : m_description(std::move(description)), m_number(number), m_source(std::move(source)),
          m_what(m_description.toUtf8())
    {
    }

    const QString &Description() const { return m_description; }
    qint32 Number() const { return m_number; }
    const QString &Source() const { return m_source; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    qint32 m_number;
    QString m_source;
    QByteArray m_what;
};

namespace Vel {
// Error numbers used where the host's platform would have its own.
enum ErrorNumber : qint32 {
    ErrObjectNotSet = 91,
    ErrTypeMismatch = 13,
    ErrCannotCreateComponent = 429,
    ErrOverflow = 6,
    ErrCancelled = 18,   // the user stopped the run
};

// The error a run stopped by the user ends with; its text is "已取消".
inline VelError Cancelled(QString source = QString())
{
    return VelError(QStringLiteral("已取消"), ErrCancelled, std::move(source));
}
inline bool IsCancelled(const VelError &error) { return error.Number() == ErrCancelled; }
} // namespace Vel
