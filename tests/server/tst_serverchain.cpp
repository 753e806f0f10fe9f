// Invariants on a generated chain, per engine: ledgers balance, summaries agree with lines,
// top-ups agree with the ledger, and both engines give the same answers.
#include "ConnectionText.h"
#include "Database.h"
#include "DesktopProps.h"
#include "DemoChain.h"
#include "Dictionary.h"
#include "ComponentRegistry.h"
#include "GLData.h"
#include "MakeDemo.h"
#include "ServerComponents.h"
#include "Recordset.h"
#include "RowCursor.h"
#include "TestDatabases.h"
#include "VelError.h"

#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QTest>

namespace {

qint64 cents(const QVariant &v) { return qRound64(v.toDouble() * 100); }

void generate(const QString &props)
{
    DemoOptions o;
    o.members = 150, o.items = 80, o.days = 62, o.linesPerDay = 60, o.seed = 5;
    TestDatabases::GenerateDemo(props, o);
}

} // namespace

struct SalesKey { int engine; int groupBy; bool isBranch; bool shared; };

// A report (rptId) or a lookup list (lookup type) run within a branch's scope (empty: head
// office), against what the test's own SQL says that branch may see: the distinct values of
// keyField on the rows of kind keyKind, and the cents of sumField on the total row. In the
// SQL, %B stands for the branch number ('' for head office).
struct ScopeCase {
    int engine; QString branch; int rptId; int lookup; Filter filter;
    QString keyField; int keyKind; QString keySql; QString sumField; QString sumSql;
};

class tst_ServerChain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_dbs.Create(QStringLiteral("chain"), generate, &error), qPrintable(error));
    }

    void cleanupTestCase() { m_dbs.Drop(); }

    void ledgerBalances_data() { m_dbs.AddRows(); }

    void ledgerBalances()
    {
        QFETCH(int, engine);
        QHash<QString, QPair<qint64, qint64>> closing;    // card -> closing of the month before
        qint64 movements = 0;
        for (int month = 1; month <= 3; ++month) {
            const RecordsetPtr rs = run(engine, 10901, {{"Year", 2024}, {"Month", double(month)}});
            QVERIFY(rs->RecordCount() > 0);
            QHash<QString, QPair<qint64, qint64>> next;
            for (qint64 r = 0; r < rs->RecordCount(); ++r) {
                const qint64 kind = rs->Value(r, "FRowKind").toLongLong();
                const qint64 openV = cents(rs->Value(r, "FCardAmount")), openP = cents(rs->Value(r, "FVipNum"));
                const qint64 add = cents(rs->Value(r, "FAdjustCardAmountAdd")), spent = cents(rs->Value(r, "FAdjustCardAmountDec"));
                const qint64 points = cents(rs->Value(r, "FAdjustVipNum"));
                const qint64 closeV = cents(rs->Value(r, "FResidualCardAmount")), closeP = cents(rs->Value(r, "FResidualVipNum"));
                QCOMPARE(closeV, openV + add - spent);
                QCOMPARE(closeP, openP + points);
                const QString card = rs->Value(r, "FCardId").toString();
                if (kind == 0 && rs->Value(r, "DoType").toString() != u"期初")
                    ++movements;
                if (kind == 1) {
                    QCOMPARE(qMakePair(openV, openP), closing.value(card, qMakePair(qint64(0), qint64(0))));
                    next.insert(card, {closeV, closeP});
                    QVERIFY2(closeV >= 0, qPrintable(card));
                }
            }
            closing = next;
        }
        QVERIFY(movements > 100);
    }

    void salesTotalsMatchLines_data() { m_dbs.AddRows(); }

    void salesTotalsMatchLines()
    {
        QFETCH(int, engine);
        const QList<Filter> filters{
            {},
            {{"BVipNum", "8000010"}, {"EVipNum", "8000090"}},
            {{"BBranchNum", "002"}, {"EBranchNum", "004"}},
        };
        for (const auto &extra : filters) {
            auto lines = extra;
            lines << qMakePair(QString("BDate"), QVariant("2024-02-01 00:00:00")) << qMakePair(QString("EDate"), QVariant("2024-02-29 23:59:59"));
            const RecordsetPtr detail = run(engine, 10903, lines);
            QVERIFY(detail->RecordCount() > 1);
            const qint64 last = detail->RecordCount() - 1;
            for (int groupBy = 0; groupBy <= 3; ++groupBy) {
                auto sales = extra;
                sales << qMakePair(QString("BDate"), QVariant("2024-02-01 00:00:00"))
                      << qMakePair(QString("EDate"), QVariant(QDateTime(QDate(2024, 3, 1), QTime(23, 59, 59))))
                      << qMakePair(QString("GroupBy"), QVariant(groupBy));
                const RecordsetPtr sum = run(engine, 10902, sales);
                const qint64 total = sum->RecordCount() - 1;
                QCOMPARE(sum->Value(total, "FRowKind").toInt(), 2);
                QCOMPARE(cents(sum->Value(total, "FAmount")), cents(detail->Value(last, "FAmount")));
                QCOMPARE(cents(sum->Value(total, "FpayAmount")), cents(detail->Value(last, "FSaleAmount")));
                QCOMPARE(cents(sum->Value(total, "FDiscountAmount")), cents(detail->Value(last, "FDiscountAmount")));
            }
        }
    }

    void branchScope_data()
    {
        QTest::addColumn<ScopeCase>("row");
        const QString own = QStringLiteral("(%B = '' OR s.FNumber = %B)");
        const QString feb = QStringLiteral(" >= '2024-02-01 00:00:00' AND %1 < '2024-03-01 00:00:00'");
        const auto dated = [&](const QString &expr) { return expr + feb.arg(expr); };
        const QString cards = QStringLiteral(
            "SELECT c.FNumber FROM member_card c JOIN branch s ON s.FID = c.FBranchID WHERE %1 UNION "
            "SELECT c.FNumber FROM card_movement m JOIN member_card c ON c.FID = m.FCardID "
            "JOIN branch s ON s.FID = m.FBranchID WHERE %1").arg(own);
        const QString bills = QStringLiteral("FROM sale_bill b JOIN sale_line l ON l.FBillID = b.FID JOIN branch s "
                                             "ON s.FID = b.FBranchID WHERE b.FCardID IS NOT NULL AND %1 AND %2")
                                  .arg(own, dated(QStringLiteral("b.FDate")));
        const Filter days{{"BDate", "2024-02-01 00:00:00"}, {"EDate", "2024-02-29 23:59:59"}};
        struct Row { const char *name; int rptId, lookup; Filter filter; QString key; int kind; QString keySql, sum, sumSql; };
        const std::vector<Row> rows{
            {"10901", 10901, 0, {{"Year", 2024}, {"Month", 2.0}}, "FCardId", 1, cards, "FAdjustVipNum",
             "SELECT SUM(m.FPoints) FROM card_movement m JOIN branch s ON s.FID = m.FBranchID WHERE " + own
                 + " AND " + dated("m.FDate")},
            {"10902", 10902, 0, {{"BDate", "2024-02-01 00:00:00"}, {"EDate", "2024-03-01 00:00:00"}, {"GroupBy", 1}},
             "FBranchName", 0, "SELECT s.FName " + bills, "FAmount", "SELECT SUM(l.FAmount) " + bills},
            {"10903", 10903, 0, days, "FID", 0, "SELECT b.FBillNo " + bills, "FAmount", "SELECT SUM(l.FAmount) " + bills},
            {"10904", 10904, 0, Filter(days) << qMakePair(QString("GroupBy"), QVariant(2)), "FStockNo", 0,
             "SELECT s.FNumber FROM gift_redemption g JOIN branch s ON s.FID = g.FBranchID WHERE " + own + " AND " + dated("g.FDate"),
             "FVipNum", "SELECT SUM(g.FPoints) FROM gift_redemption g JOIN branch s ON s.FID = g.FBranchID WHERE " + own
                 + " AND " + dated("g.FDate")},
            {"10905", 10905, 0, Filter(days) << qMakePair(QString("GroupBy"), QVariant(1)), "FStockNo", 0,
             "SELECT s.FNumber FROM topup t JOIN branch s ON s.FID = t.FBranchID WHERE " + own + " AND " + dated("t.FDate"),
             "FPlusAmt", "SELECT SUM(t.FAmount) FROM topup t JOIN branch s ON s.FID = t.FBranchID WHERE " + own
                 + " AND " + dated("t.FDate")},
            {"10906", 10906, 0, {}, "FNumber", 0, "SELECT FNumber FROM item", {}, {}},
            {"customers", 0, 1, {}, "FNumber", 0,
             "SELECT u.FNumber FROM customer u LEFT JOIN sale_bill b ON b.FCustomerID = u.FID "
             "LEFT JOIN branch s ON s.FID = b.FBranchID WHERE " + own, {}, {}},
            {"items", 0, 4, {}, "FNumber", 0, "SELECT FNumber FROM item", {}, {}},
            {"branches", 0, 5, {}, "FNumber", 0, "SELECT s.FNumber FROM branch s WHERE " + own, {}, {}},
            {"pos", 0, 47, {}, "FNumber", 0, "SELECT p.FNumber FROM pos p LEFT JOIN branch s ON s.FID = p.FBranchID WHERE " + own, {}, {}},
            {"cashiers", 0, 49, {}, "FNumber", 0, "SELECT e.FNumber FROM employee e LEFT JOIN branch s ON s.FID = e.FBranchID "
             "WHERE e.FIsCashier = 1 AND " + own, {}, {}},
            {"cards", 0, 50, {}, "FNumber", 0, cards, {}, {}},
            {"card_types", 0, 51, {}, "FNumber", 0, "SELECT FNumber FROM card_type", {}, {}},
            {"brands", 0, 713, {}, "FNumber", 0, "SELECT FNumber FROM brand", {}, {}},
        };
        for (size_t e = 0; e < m_dbs.Engines().size(); ++e)
            for (const char *branch : {"", "001", "002"})
                for (const Row &r : rows)
                    QTest::addRow("%s_%s_%s", qPrintable(m_dbs.Engines()[e].name), *branch ? branch : "head_office", r.name)
                        << ScopeCase{int(e), QString::fromLatin1(branch), r.rptId, r.lookup, r.filter,
                                     r.key, r.kind, r.keySql, r.sum, r.sumSql};
    }

    // Every report and lookup returns for a branch exactly what belongs to, or happened at, it.
    void branchScope()
    {
        QFETCH(ScopeCase, row);
        const QString props = m_dbs.Engines()[size_t(row.engine)].props;
        const BranchScope scope = row.branch.isEmpty() ? BranchScope::HeadOffice() : BranchScope::Branch(row.branch);
        RecordsetPtr rs;
        if (row.lookup)
            rs = GLData(scope).GetLookupList(props, row.lookup, QString(), QString(), 100000);
        else
            rs = TestDatabases::RunOn(props, row.rptId, row.filter, scope);
        QStringList keys;
        for (qint64 r = 0; r < rs->RecordCount(); ++r)
            if (row.lookup || rs->Value(r, "FRowKind").toInt() == row.keyKind)
                keys << rs->Value(r, row.keyField).toString();

        const auto db = Database::OpenForWriting(props);
        const auto select = [&](const QString &sql) {
            QString bound = sql;
            const QVariantList params(bound.count(QStringLiteral("%B")), row.branch);
            auto cursor = db->Select(bound.replace(QStringLiteral("%B"), QStringLiteral("?")), params);
            QStringList out;
            while (cursor->Next())
                out << (cursor->IsNull(0) ? QStringLiteral("0") : cursor->Text(0).toString());
            return out;
        };
        QStringList expected = select(row.keySql);
        const auto distinctSorted = [](QStringList l) { l.removeDuplicates(); l.sort(); return l; };
        QVERIFY(!expected.isEmpty());
        QCOMPARE(distinctSorted(keys), distinctSorted(expected));
        if (!row.sumField.isEmpty())
            QCOMPARE(QString::number(cents(rs->Value(rs->RecordCount() - 1, row.sumField))), select(row.sumSql).value(0));
    }

    void salesRowsPerVisibleKey_data()
    {
        QTest::addColumn<SalesKey>("row");
        const struct { const char *name; bool isBranch, shared; } contexts[] = {
            {"head_office_shared_cards", false, true}, {"branch_site", true, true}, {"cards_not_shared", false, false}};
        for (size_t e = 0; e < m_dbs.Engines().size(); ++e) {
            for (const auto &c : contexts) {
                for (int groupBy = 0; groupBy <= 3; ++groupBy)
                    QTest::addRow("%s_%s_by_%d", qPrintable(m_dbs.Engines()[e].name), c.name, groupBy)
                        << SalesKey{int(e), groupBy, c.isBranch, c.shared};
            }
        }
    }

    // One detail row per distinct value of the grouping columns the header shows: the branch of
    // sale only at a head office that shares cards (grouping 1 always shows it). Subtotals and the
    // grand total stay those of the rows per card and branch.
    void salesRowsPerVisibleKey()
    {
        QFETCH(SalesKey, row);
        const auto &[engine, groupBy, isBranch, shared] = row;
        const Filter filter{{"BDate", "2024-02-01 00:00:00"}, {"EDate", "2024-03-01 00:00:00"},
                                                     {"GroupBy", groupBy}};
        const DictionaryPtr context = Dictionary::Create();
        const auto runIn = [&](bool branch, bool share) {
            context->SetValue(QStringLiteral("ISBranch"), branch);
            context->SetValue(QStringLiteral("SVCardShareType"), share);
            DesktopProps::SetProp(DesktopProps::ContextPropName(), context.get());
            const RecordsetPtr rs = run(engine, 10902, filter);
            DesktopProps::RemoveProp(DesktopProps::ContextPropName());
            return rs;
        };
        const RecordsetPtr perBranch = runIn(false, true);
        const RecordsetPtr rs = runIn(isBranch, shared);

        const bool branchShown = groupBy == 1 || (!isBranch && shared);
        const QStringList keys[4] = {{"FNo", "FVipName", "Ftype_name"}, {"FNo", "FVipNo", "FVipName", "Ftype_name"},
                                     {"FNo", "FVipNo", "FVipName"}, {"FNo", "FVipNo", "FVipName"}};
        QStringList visible = keys[groupBy];
        if (branchShown && groupBy != 1)
            visible << QStringLiteral("FBranchName");
        const auto lines = [](const RecordsetPtr &r, int kind, const QStringList &fields) {
            QStringList out;
            for (qint64 i = 0; i < r->RecordCount(); ++i) {
                if (r->Value(i, "FRowKind").toInt() != kind)
                    continue;
                QStringList cells;
                for (const QString &f : fields)
                    cells << r->Value(i, f).toString();
                out << cells.join(u'|');
            }
            return out;
        };
        const QStringList details = lines(rs, 0, visible);
        QVERIFY(details.size() > 10);
        QCOMPARE(details.size(), QSet<QString>(details.cbegin(), details.cend()).size());

        // The chain has cards bought at several branches, so rows per branch are more.
        if (!branchShown)
            QVERIFY(lines(perBranch, 0, visible).size() > details.size());
        const QStringList sums{"FNo", "FAmount", "FpayAmount", "FDiscountAmount", "ftimes"};
        QCOMPARE(lines(rs, 1, sums), lines(perBranch, 1, sums));
        QCOMPARE(lines(rs, 2, sums), lines(perBranch, 2, sums));
    }

    void topUpsMatchLedger_data() { m_dbs.AddRows(); }

    void topUpsMatchLedger()
    {
        QFETCH(int, engine);
        QHash<QString, qint64> ledger;
        for (int month = 1; month <= 3; ++month) {
            const RecordsetPtr rs = run(engine, 10901, {{"Year", 2024}, {"Month", month}, {"ShowVipDo", 1}});
            for (qint64 r = 0; r < rs->RecordCount(); ++r) {
                if (rs->Value(r, "DoType").toString() == u"充值")
                    ledger[rs->Value(r, "FCardId").toString()] += cents(rs->Value(r, "FAdjustCardAmountAdd"));
            }
        }
        QHash<QString, qint64> journal;
        const RecordsetPtr rs = run(engine, 10905, {{"GroupBy", 0}, {"SumOnly", 1}});
        for (qint64 r = 0; r < rs->RecordCount(); ++r) {
            if (rs->Value(r, "FRowKind").toInt() == 1)
                journal.insert(rs->Value(r, "FCardID").toString(), cents(rs->Value(r, "FPlusAmt")));
        }
        QVERIFY(journal.size() > 10);
        QCOMPARE(journal, ledger);
    }

    void enginesAgree()
    {
        if (m_dbs.Engines().size() < 2)
            QSKIP("only one engine");
        const QList<QPair<qint32, Filter>> runs{
            {10901, {{"Year", 2024}, {"Month", 2}}},
            {10902, {{"GroupBy", 3}, {"BDate", "2024-01-10"}, {"EDate", "2024-02-10"}}},
            {10903, {{"BDate", "2024-01-01 00:00:00"}, {"EDate", "2024-01-15 23:59:59"}, {"BItemNum", "100010"}}},
            {10904, {{"GroupBy", 2}}},
            {10905, {{"GroupBy", 1}}},
            {10906, {}},
        };
        for (const auto &[rptId, filter] : runs) {
            QStringList answers;
            for (int e = 0; e < 2; ++e) {
                answers << TestDatabases::RowLines(run(e, rptId, filter)).join(u'\n');
            }
            QVERIFY(!answers[0].isEmpty());
            QCOMPARE(answers[1], answers[0]);
        }
    }

    void drivenByProgId()
    {
        RegisterServerComponents();
        std::unique_ptr<QObject> owner;
        IServerData *data = ComponentRegistry::Instance().CreateAs<IServerData>(QString::fromLatin1(Vel::ServerDataProgId), owner);
        QVERIFY(data);
        // As an automation host does it: the property and the method by name, Variants only.
        QVERIFY(owner->setProperty("RptID", 10905));
        QCOMPARE(data->RptID(), 10905);
        DictionaryPtr filter = Dictionary::Create();
        filter->SetValue(QStringLiteral("GroupBy"), qint32(1));
        filter->SetValue(QStringLiteral("SumOnly"), qint16(1));
        QVariant result;
        QVERIFY(QMetaObject::invokeMethod(owner.get(), "GetRptData", Q_RETURN_ARG(QVariant, result),
                                          Q_ARG(QString, m_dbs.Engines()[0].props), Q_ARG(QVariant, Vel::ToVariant(filter))));
        const RecordsetPtr rs = Vel::AsRecordset(result);
        QVERIFY(rs);
        QCOMPARE(rs->Value(rs->RecordCount() - 1, "FRowKind").toInt(), 2);
        QVERIFY(QMetaObject::invokeMethod(owner.get(), "LookupList", Q_RETURN_ARG(QVariant, result),
                                          Q_ARG(QString, m_dbs.Engines()[0].props), Q_ARG(qint32, 5),
                                          Q_ARG(QString, QStringLiteral(" x2.FParentID=0 ")), Q_ARG(QString, QString()),
                                          Q_ARG(qint32, 3)));
        QCOMPARE(Vel::AsRecordset(result)->RecordCount(), 3);
    }

    void makeDemoArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("nothing") << QStringList{} << 2;
        QTest::newRow("value_missing") << QStringList{"--out"} << 2;
        QTest::newRow("unknown_option") << QStringList{"--out", "x.sqlite", "--colour", "red"} << 2;
        QTest::newRow("not_a_number") << QStringList{"--out", "x.sqlite", "--members", "many"} << 2;
        QTest::newRow("zero_days") << QStringList{"--out", "x.sqlite", "--days", "0"} << 2;
        // Past each documented range: refused before anything is generated.
        QTest::newRow("members_past_range") << QStringList{"--out", "x.sqlite", "--members", "2147483647"} << 2;
        QTest::newRow("items_past_range") << QStringList{"--out", "x.sqlite", "--items", "1000001"} << 2;
        QTest::newRow("days_past_range") << QStringList{"--out", "x.sqlite", "--days", "2147483647"} << 2;
        QTest::newRow("lines_past_range") << QStringList{"--out", "x.sqlite", "--lines-per-day", "2147483647"} << 2;
        QTest::newRow("lines_in_total_past_range") << QStringList{"--out", "x.sqlite", "--days", "7305", "--lines-per-day", "100000"} << 2;
        QTest::newRow("bad_start") << QStringList{"--out", "x.sqlite", "--start", "2024-13-01"} << 2;
        QTest::newRow("negative_seed") << QStringList{"--out", "x.sqlite", "--seed", "-1"} << 2;
        QTest::newRow("no_branches") << QStringList{"--out", "x.sqlite", "--branches", "0"} << 2;
        QTest::newRow("branches_past_range") << QStringList{"--out", "x.sqlite", "--branches", "1000"} << 2;
        QTest::newRow("branches_not_a_number") << QStringList{"--out", "x.sqlite", "--branches", "300家"} << 2;
        QTest::newRow("unwritable") << QStringList{"--out", "/proc/velvip/x.sqlite", "--members", "5", "--days", "1"} << 1;
    }

    // Refusals only: a chain that is written is checked by makeDemoPeriod here and by the command
    // line's tests (outWritesOnlyRegularFiles leaves nothing beside it, the read-back suite runs on it).
    void makeDemoArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QCOMPARE(MakeDemoMain(args), status);
    }

    void makeDemoPeriod_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QDate>("first");
        // stores | names | last store | distribution centre | warehouses | POS | cashiers | members | lines | bills elsewhere
        QTest::addColumn<QString>("shape");
        const QStringList sizes{"--members", "20", "--items", "10", "--days", "3", "--lines-per-day", "30"};
        const QString eight = QStringLiteral("8|8|008|009|8|16|24|20|90|0");
        QTest::newRow("ends_yesterday") << sizes << QDate::currentDate().addDays(-3) << eight;
        QTest::newRow("fixed_start") << QStringList{"--start", "2024-01-01"} + sizes << QDate(2024, 1, 1) << eight;
        QTest::newRow("one_store_in_proportion") << QStringList{"--start", "2024-01-01", "--days", "3", "--branches", "1"}
                                                 << QDate(2024, 1, 1) << "1|1|001|002|1|2|3|375|150|0";
        QTest::newRow("most_stores") << QStringList{"--branches", "999", "--start", "2024-01-01"} + sizes << QDate(2024, 1, 1)
                                     << "999|999|999|1000|999|1998|2997|20|90|0";
    }

    // The chain's sales cover exactly its days, and its stores have distinct names and numbers,
    // a warehouse, two POS and three cashiers each, and all the sales; with --start 2024-01-01
    // and eight stores it is the chain the fixed defaults give, file for file.
    void makeDemoPeriod()
    {
        QFETCH(QStringList, args);
        QFETCH(QDate, first);
        QFETCH(QString, shape);
        QTemporaryDir dir;
        DemoOptions fixed;
        fixed.members = 20, fixed.items = 10, fixed.days = 3, fixed.linesPerDay = 30;
        fixed.outPath = dir.filePath(QStringLiteral("fixed.sqlite"));
        const QString out = dir.filePath(QStringLiteral("chain.sqlite"));
        QCOMPARE(MakeDemoMain(args + QStringList{"--out", out}), 0);
        QStringList got;
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("period"));
            db.setDatabaseName(out);
            QVERIFY(db.open());
            QSqlQuery q(QStringLiteral("SELECT substr(min(FDate), 1, 10), substr(max(FDate), 1, 10) FROM sale_bill"), db);
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), first.toString(Qt::ISODate));
            QCOMPARE(q.value(1).toString(), first.addDays(2).toString(Qt::ISODate));
            q.exec(QStringLiteral("SELECT count(*), count(DISTINCT FName), max(FNumber), (SELECT FNumber FROM branch WHERE FTradeType = 1), "
                                  "(SELECT count(*) FROM branch WHERE FParentID IN (%1)), (SELECT count(*) FROM pos), "
                                  "(SELECT count(*) FROM employee WHERE FIsCashier = 1), (SELECT count(*) FROM member_card), "
                                  "(SELECT count(*) FROM sale_line), (SELECT count(*) FROM sale_bill WHERE FBranchID NOT IN (%1)) "
                                  "FROM branch WHERE FID IN (%1)")
                       .arg("SELECT FID FROM branch WHERE FParentID = 0 AND FTradeType = 0 AND FID > 1"));
            for (int c = 0; c < 10 && (c || q.next()); ++c)
                got << q.value(c).toString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("period"));
        QCOMPARE(got.join(u'|'), shape);
        if (first == fixed.firstDay && !args.contains(QStringLiteral("--branches"))) {
            DemoChain::Generate(fixed);
            QFile a(out), b(fixed.outPath);
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QVERIFY(a.readAll() == b.readAll());
        }
    }

    void defaultDatabase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(DemoChain::DefaultDatabasePath());
        QStringList steps;
        const QString props = DemoChain::EnsureDefaultDatabase([&](const QString &s) { steps << s; });
        QVERIFY(!steps.isEmpty());
        QCOMPARE(ConnectionText::Parse(props).Database(), DemoChain::DefaultDatabasePath());
        const QDateTime written = QFileInfo(DemoChain::DefaultDatabasePath()).lastModified();
        QCOMPARE(DemoChain::EnsureDefaultDatabase(), props);
        QCOMPARE(QFileInfo(DemoChain::DefaultDatabasePath()).lastModified(), written);
        GLData data(BranchScope::HeadOffice());
        data.SetRptID(10906);
        DictionaryPtr f = Dictionary::Create();
        QVERIFY(Vel::AsRecordset(data.GetRptData(props, f))->RecordCount() > 1000);
        Database::CloseAll();
        QFile::remove(DemoChain::DefaultDatabasePath());
    }

private:
    RecordsetPtr run(int engine, qint32 rptId, const Filter &pairs)
    {
        return m_dbs.Run(engine, rptId, pairs);
    }
    TestDatabases m_dbs;
};

QTEST_GUILESS_MAIN(tst_ServerChain)
#include "tst_serverchain.moc"
