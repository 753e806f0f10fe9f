// "Contains" matching of text filters: the same answers on SQLite and on PostgreSQL databases
// with the C locale and with a UTF-8 locale.
#include "Database.h"
#include "Dictionary.h"
#include "GLData.h"
#include "ReadSessions.h"
#include "Recordset.h"
#include "RowCursor.h"
#include "Schema.h"
#include "TestDatabases.h"
#include "TextFold.h"

#include <QTest>

namespace {

void fillCards(const QString &props)
{
    auto db = Database::OpenForWriting(props);

    for (const QString &ddl : Schema::TableStatements(db->Driver()))
        db->Exec(ddl);
    db->Exec(QStringLiteral("INSERT INTO card_type VALUES (1,'01','普通卡')"));
    const QStringList names{"Émile张", "ÉMILE", "ＡＢＣ１９", "abc19", "50%_off\\x", "50xxoff", "Straße", "ΟΔΟΣ"};

    for (int i = 0; i < names.size(); ++i)
        db->Exec(QStringLiteral("INSERT INTO member_card VALUES (?,?,?,1,NULL,NULL,NULL,NULL,1,NULL,0)"),
                 {i + 1, QStringLiteral("V%1").arg(i + 1, 2, 10, QLatin1Char('0')), names[i]});
}

// Every character that has a case or a folding, and full-width letters and digits.
QString casedCharacters()
{
    QString all;
    for (char32_t c = 1; c <= 0x1FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (QChar::toLower(c) != c || QChar::toUpper(c) != c || QChar::toCaseFolded(c) != c
            || (c >= 0xFF10 && c <= 0xFF5A))
            all += QString::fromUcs4(&c, 1) + u' ';
    }
    return all;
}

} // namespace

class tst_ServerText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_cLocale.Create(QStringLiteral("text_c"), fillCards, &error,
                                  QStringLiteral("TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C'")),
                 qPrintable(error));
        QVERIFY2(m_utf8Locale.Create(QStringLiteral("text_utf8"), fillCards, &error,
                                     QStringLiteral("TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C.UTF-8' LC_CTYPE 'C.UTF-8'")),
                 qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_cLocale.Drop();
        m_utf8Locale.Drop();
    }

    void contains_data()
    {
        QTest::addColumn<QString>("props");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("cards");
        const struct { const char *name; const char *text; QStringList cards; } cases[] = {
            {"accented_lowercase", "émile", {"V01", "V02"}},
            {"accented_uppercase_and_chinese", "ÉMILE张", {"V01"}},
            {"chinese", "张", {"V01"}},
            {"half_width_finds_full_width", "abc19", {"V03", "V04"}},
            {"full_width_finds_half_width", "ＡＢＣ１９", {"V03", "V04"}},
            {"full_width_lowercase", "ａｂｃ", {"V03", "V04"}},
            {"mixed_widths", "Abc１9", {"V03", "V04"}},
            {"percent_is_literal", "%", {"V05"}},
            {"underscore_is_literal", "_off", {"V05"}},
            {"backslash_is_literal", "\\x", {"V05"}},
            {"percent_underscore", "0%_", {"V05"}},
            {"sharp_s", "STRAße", {"V07"}},
            {"final_sigma", "οδος", {"V08"}},
            {"capital_sigma", "ΟΔΟΣ", {"V08"}},
            {"nothing", "émilé", {}},
        };
        for (const auto &[engine, props] : engines()) {
            for (const auto &c : cases)
                QTest::addRow("%s_%s", qPrintable(engine), c.name) << props << QString::fromUtf8(c.text) << c.cards;
        }
    }

    void contains()
    {
        QFETCH(QString, props);
        QFETCH(QString, text);
        QFETCH(QStringList, cards);
        GLData data(BranchScope::HeadOffice());
        const RecordsetPtr rs = data.GetLookupList(props, 50, QString(), text, 100);
        QStringList got;
        for (qint64 r = 0; r < rs->RecordCount(); ++r)
            got << rs->Value(r, QStringLiteral("FNumber")).toString();
        QCOMPARE(got, cards);
    }

    void foldedOnTheServer_data()
    {
        QTest::addColumn<QString>("props");
        QTest::addColumn<bool>("icu");
        for (const auto &[engine, props] : engines()) {
            if (engine.startsWith(u"postgresql")) {
                QTest::addRow("%s_icu", qPrintable(engine)) << props << true;
                QTest::addRow("%s_character_map", qPrintable(engine)) << props << false;
            }
        }
        if (engines().size() == 1)
            QTest::addRow("sqlite") << engines()[0].second << false;
    }

    // The column's folding on the server equals the pattern's folding here, for every cased
    // character, with ICU's lowercase and with the character map that stands in for it.
    void foldedOnTheServer()
    {
        QFETCH(QString, props);
        QFETCH(bool, icu);
        const Database &db = ReadSessions::For(props);
        const bool postgres = db.Driver().Name() == u"PostgreSQL";
        if (icu) {
            auto probe = db.Select(QStringLiteral("SELECT count(*) FROM pg_collation WHERE collname = 'und-x-icu'"));
            if (!probe->Next() || probe->Int(0) == 0)
                QSKIP("this PostgreSQL server has no ICU collations");
        }
        const QString folded = postgres ? TextFold::PostgresSql(QStringLiteral("v"), icu) : QStringLiteral("vel_fold(v)");
        const QStringList samples{casedCharacters(), QStringLiteral("İstanbul ΟΔΟΣ ǅ ẞ ſ Ꭰꭰ 𐐀 K Ω"),
                                  QStringLiteral("Plain ASCII 50%_OFF\\x"), QStringLiteral("Émile张 ＡＢＣ１２")};
        for (const QString &sample : samples) {
            auto cursor = db.Select(QStringLiteral("SELECT %1 FROM (SELECT CAST(? AS TEXT) AS v) x").arg(folded), {sample});
            QVERIFY(cursor->Next());
            const QString server = cursor->Text(0).toString();
            const QString here = TextFold::Fold(sample);
            if (server != here) {
                const QStringList a = server.split(u' '), b = here.split(u' '), s = sample.split(u' ');
                for (qsizetype i = 0; i < qMin(a.size(), b.size()); ++i)
                    QVERIFY2(a[i] == b[i], qPrintable(QStringLiteral("%1: server %2, here %3").arg(s.value(i), a[i], b[i])));
            }
            QCOMPARE(server, here);
        }
    }

private:
    // The engines under test: SQLite, then PostgreSQL with each locale where a server is given.
    QList<QPair<QString, QString>> engines() const
    {
        QList<QPair<QString, QString>> out{{QStringLiteral("sqlite"), m_cLocale.Engines()[0].props}};
        if (m_cLocale.Engines().size() > 1)
            out.append({QStringLiteral("postgresql_c_locale"), m_cLocale.Engines()[1].props});
        if (m_utf8Locale.Engines().size() > 1)
            out.append({QStringLiteral("postgresql_utf8_locale"), m_utf8Locale.Engines()[1].props});
        return out;
    }
    TestDatabases m_cLocale;
    TestDatabases m_utf8Locale;
};

QTEST_GUILESS_MAIN(tst_ServerText)
#include "tst_servertext.moc"
