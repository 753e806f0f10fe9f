#pragma once

#include "velhost_export.h"

#include <QByteArray>
#include <QString>

#include <exception>

namespace Vel {
// What went wrong, for whoever acts on a failure (HTTP status, exit status, retry); the
// description says it to people.
enum class ErrorKind : quint8 {
    Internal = 0,   // anything not named below
    BadFilter,      // the request's filter or search text cannot be used
    Timeout,        // the query ran past its time limit, or waited past the lock limit
    Cancelled,      // the run was stopped (Ctrl+C, the client left)
    Unavailable,    // the database cannot be reached or opened
    NotFound,       // the request names something that is not there (a drill-down row)
};
inline constexpr quint8 ErrorKindCount = 6;
} // namespace Vel

// A failure inside a step: a number, a description, the source that raised it and its kind.
// Boundaries named by the contracts turn it into result values ("OK", "Error").
class VELHOST_EXPORT VelError : public std::exception
{
public:
    explicit VelError(QString description, qint32 number = 0, QString source = QString(),
                      Vel::ErrorKind kind = Vel::ErrorKind::Internal)
        : m_description(std::move(description)), m_number(number), m_source(std::move(source)),
          m_what(m_description.toUtf8()), m_kind(kind)
    {
    }
    VelError(Vel::ErrorKind kind, QString description, qint32 number = 0)
        : VelError(std::move(description), number, QString(), kind)
    {
    }

    const QString &Description() const { return m_description; }
    qint32 Number() const { return m_number; }
    const QString &Source() const { return m_source; }
    // A cancelled run is known by its number, whoever raised it.
    Vel::ErrorKind Kind() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    qint32 m_number;
    QString m_source;
    QByteArray m_what;
    Vel::ErrorKind m_kind;
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

// The kind of the last failure that left the server data component in this process, for a host
// that reads the report's outcome from its result dictionary, where only the text travels.
// Cleared by the host before a run; Internal when none was noted.
VELHOST_EXPORT void NoteFailure(ErrorKind kind);
VELHOST_EXPORT ErrorKind TakeFailure();
} // namespace Vel

inline Vel::ErrorKind VelError::Kind() const
{
    return Vel::IsCancelled(*this) ? Vel::ErrorKind::Cancelled : m_kind;
}
