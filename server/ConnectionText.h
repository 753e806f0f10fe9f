#pragma once

#include <QHash>
#include <QString>

// A parsed connection text: `key=value` pairs separated by `;`, keys case-insensitive,
// values optionally double-quoted (a quoted value may hold `;` and `=`, `""` is a quote).
class ConnectionText
{
public:
    enum class Engine { None, Unknown, SQLite, PostgreSQL };

    static ConnectionText Parse(const QString &text);

    // The value of a key (any case), empty when absent.
    QString Value(const QString &key) const { return m_values.value(key.toLower()); }
    bool Has(const QString &key) const { return m_values.contains(key.toLower()); }

    Engine Driver() const;
    QString DriverName() const { return Value(QStringLiteral("driver")).trimmed(); }
    QString Database() const { return Value(QStringLiteral("database")); }
    QString Host() const { return Value(QStringLiteral("host")); }
    int Port(int fallback) const;
    QString User() const { return Value(QStringLiteral("user")); }
    QString Password() const { return Value(QStringLiteral("password")); }

    // Throws VelError when the driver is missing or unknown, or the database is not named.
    void Validate() const;

    // `text` with every occurrence of the password replaced, for error messages.
    QString Redact(const QString &text) const;

    // Builds a connection text, quoting values that need it.
    static QString Make(const QList<QPair<QString, QString>> &pairs);

private:
    QHash<QString, QString> m_values;
};
