#pragma once

#include "velserver_export.h"

#include <QString>

// Whose rows a report or lookup may return: head office (everything the filter selects) or one
// branch (only what belongs to, or happened at, that branch, whatever the filter says). Every
// report and lookup of the data component takes one; there is no default.
class VELSERVER_EXPORT BranchScope
{
public:
    static BranchScope HeadOffice() { return BranchScope(QString()); }
    // A branch's scope from its number, trimmed. Throws VelError (ErrTypeMismatch) for an empty
    // number, one longer than 40 characters, or one holding spaces or control characters.
    static BranchScope Branch(const QString &number);

    bool IsHeadOffice() const { return m_number.isEmpty(); }
    // The branch's number; empty for head office.
    const QString &Number() const { return m_number; }

    bool operator==(const BranchScope &) const = default;

private:
    explicit BranchScope(QString number) : m_number(std::move(number)) {}
    QString m_number;
};
