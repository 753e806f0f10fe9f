#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// A parsed connection text: `key=value` pairs separated by `;`, keys case-insensitive,
// values optionally double-quoted (a quoted value may hold `;` and `=`, `""` is a quote).
// A quote left open makes the text malformed: Validate() names the position, and nothing of
// the open value (which may have swallowed a password) is ever shown.
class ConnectionText
{
public:
    enum class Engine { None, Unknown, SQLite, PostgreSQL };

    static ConnectionText Parse(const QString &text);

    // The value of a key (any case), empty when absent.
    QString Value(const QString &key) const { return m_values.value(key.toLower()); }
    bool Has(const QString &key) const { return m_values.contains(key.toLower()); }
    // True when the text holds no key at all (empty or only separators and spaces).
    bool IsEmpty() const { return m_pairs.isEmpty(); }

    Engine Driver() const;
    QString DriverName() const { return Value(QStringLiteral("driver")).trimmed(); }
    QString Database() const { return Value(QStringLiteral("database")); }
    QString Host() const { return Value(QStringLiteral("host")); }
    // The "Port" value, `fallback` when the key is absent or empty; throws VelError when it is
    // not a port number.
    int Port(int fallback) const;
    // A whole number of seconds from 0 (no limit) to one day, `fallback` when the key is absent
    // or empty; throws VelError for anything else.
    int Seconds(const QString &key, int fallback) const;

    // Report session limits (seconds, 0 = none): "Timeout" for a statement, "LockTimeout" for a
    // wait on a lock, "KeepAlive" for an idle network connection before the server is probed.
    int StatementTimeout() const { return Seconds(QStringLiteral("Timeout"), 300); }
    int LockTimeout() const { return Seconds(QStringLiteral("LockTimeout"), 10); }
    int KeepAlive() const { return Seconds(QStringLiteral("KeepAlive"), 30); }

    QString User() const { return Value(QStringLiteral("user")); }
    QString Password() const { return Value(QStringLiteral("password")); }

    // Throws VelError when the text is empty, the driver is missing or unknown, the database is
    // not named, or the port or a time limit is not a number it can be.
    void Validate() const;

    // A value fit to be named in a message: empty when it may have swallowed other pairs (it
    // holds `;`, a quote or a control character) or comes from a malformed text.
    QString Shown(const QString &value) const;
    // True when the user and database names may be shown, and so may a server's message that
    // repeats them.
    bool NamesShown() const { return Shown(User()) == User() && Shown(Database()) == Database(); }

    // The text rebuilt from its parsed pairs, every password value shown as "******": for
    // status bars, titles and messages.
    QString Masked() const;

    // Builds a connection text, quoting values that need it.
    static QString Make(const QList<QPair<QString, QString>> &pairs);

private:
    QHash<QString, QString> m_values;           // lower-case key -> last value
    QList<QPair<QString, QString>> m_pairs;     // keys as written, in order
    qsizetype m_openQuote = -1;                 // position of a quote never closed
};
