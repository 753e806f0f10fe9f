#pragma once

#include <QString>
#include <QVariantMap>

class QSettings;

// Where the desktop host reads its reports from, and the context it publishes. Kept in
// QSettings between runs; the password never: when the user asks to remember it, it goes to
// the desktop's keyring.
struct ConnectionSettings
{
    enum class Kind { Demo, SQLite, PostgreSQL };

    Kind kind = Kind::Demo;
    QString sqlitePath;
    QString host = QStringLiteral("127.0.0.1");
    int port = 5432;
    QString database;
    QString user;
    QString password;
    bool rememberPassword = false;
    QVariantMap context;

    static ConnectionSettings Load(QSettings &settings);
    // Returns a sentence for the user when a password to remember could not be kept (no
    // keyring answered); it is then not remembered.
    QString Save(QSettings &settings) const;

    // What the keyring keeps a PostgreSQL password under: user@host:port/database.
    QString KeyringLogin() const;

    // The connection text; the demo chain is generated on first use. Throws VelError.
    QString PropsString() const;
    // A one-line description without the password.
    QString Describe() const;
};
