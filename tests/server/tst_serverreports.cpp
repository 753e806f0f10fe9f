// The six reports and the lookups on a small hand-made chain whose answers are worked out by
// hand, once per engine.
#include "Database.h"
#include "Dictionary.h"
#include "GLData.h"
#include "Recordset.h"
#include "Schema.h"
#include "TestDatabases.h"
#include "VelError.h"
#include "../ErrorOf.h"
#include "../ZoneScope.h"

#include <QTest>

namespace {

const char *const chain[] = {
    "INSERT INTO branch VALUES (1,'000','总部',0,0),(2,'001','一店',0,0),(3,'002','二店',0,0),(4,'009','配送中心',0,1),(5,'00101','一店仓',2,0)",
    "INSERT INTO card_type VALUES (1,'01','普通卡'),(2,'02','金卡')",
    "INSERT INTO employee VALUES (1,'E1','收银甲',2,1),(2,'E2','收银乙',3,1),(3,'E3','业务丙',2,0)",
    "INSERT INTO pos VALUES (1,'P1','一店1号',2),(2,'P2','二店1号',3)",
    "INSERT INTO customer VALUES (1,'C1','客户一')",
    "INSERT INTO brand VALUES (1,'B1','品牌一'),(2,'B2','品牌二')",
    "INSERT INTO unit VALUES (1,'01','个'),(2,'02','箱')",
    "INSERT INTO aux_prop VALUES (1,'01','红色')",
    "INSERT INTO discount_type VALUES (1,'无'),(2,'会员价')",
    "INSERT INTO member_card VALUES (1,'8001','张三',1,'1990-05-01 00:00:00','13800000001',NULL,'一路1号',2,3,0),"
    "(2,'8002','李四',2,NULL,'13800000002','0571-1','二路2号',3,NULL,0),(3,'8003','王五',1,NULL,NULL,NULL,NULL,2,3,1)",
    "INSERT INTO item VALUES (1,'1001','大米','5kg',1,1,'DM',5000,4800),(2,'1002','食用油','5L',1,2,'SYY',8000,7600)",
    "INSERT INTO item_barcode VALUES (1,1,'6901',1,1000),(2,1,'6902',2,10000),(3,2,'6903',1,1000)",
    "INSERT INTO sale_bill VALUES (1,'XS001',2,1,1,NULL,1,'2024-05-01 10:00:00',0),(2,'XS002',3,2,2,1,2,'2024-05-31 23:59:59',0),"
    "(3,'TH003',2,1,1,NULL,1,'2024-05-15 09:00:00',1),(4,'XS004',2,1,1,NULL,NULL,'2024-05-02 11:00:00',0),"
    "(5,'XS005',2,1,1,NULL,2,'2024-06-01 00:00:00',0),(6,'XS006',2,1,1,NULL,1,'2024-04-30 23:59:59',0),"
    // Around the days whose midnight some zones skip (see wallClockDates).
    "(11,'XS011',3,2,2,NULL,2,'2024-03-09 12:00:00',0),(12,'XS012',3,2,2,NULL,2,'2024-03-10 00:30:00',0),"
    "(13,'XS013',3,2,2,NULL,2,'2024-09-07 12:00:00',0),(14,'XS014',3,2,2,NULL,2,'2024-09-08 00:30:00',0)",
    "INSERT INTO sale_line VALUES (1,1,1,1,1,1,1,2000,5000,4800,10000,9600,2),(2,1,2,2,NULL,1,3,1000,8000,7600,8000,7600,2),"
    "(3,2,1,1,NULL,1,1,3000,5000,4800,15000,14400,2),(4,3,1,1,NULL,1,1,-1000,5000,4800,-5000,-4800,2),"
    "(5,4,1,2,NULL,1,3,1000,8000,8000,8000,8000,1),(6,5,1,1,NULL,1,1,1000,5000,4800,5000,4800,2),"
    "(7,6,1,2,NULL,1,3,1000,8000,7600,8000,7600,2),(11,11,1,1,NULL,1,1,2000,5000,4800,10000,9600,2),"
    "(12,12,1,1,NULL,1,1,1000,5000,4800,5000,4800,2),(13,13,1,1,NULL,1,1,2000,5000,4800,10000,9600,2),"
    "(14,14,1,1,NULL,1,1,1000,5000,4800,5000,4800,2)",
    "INSERT INTO card_movement VALUES (1,1,'2024-04-10 10:00:00',2,1,'CZ1',50000,0,0,1,NULL),(2,1,'2024-04-30 23:59:59',2,4,'XS006',0,0,7600,1,NULL),"
    "(3,1,'2024-05-01 10:00:00',2,2,'XS001',0,17200,0,1,NULL),(4,1,'2024-05-01 10:00:00',2,4,'XS001',0,0,17200,1,NULL),"
    "(5,1,'2024-05-15 09:00:00',2,3,'TH003',4800,0,0,1,NULL),(6,1,'2024-05-15 09:00:00',2,4,'TH003',0,0,-4800,1,NULL),"
    "(7,2,'2024-05-20 12:00:00',3,1,'CZ2',30000,0,0,2,NULL),(8,2,'2024-05-31 23:59:59',3,4,'XS002',0,0,14400,2,NULL),"
    "(9,2,'2024-05-31 23:59:59',3,6,'LP1',0,0,-1000,2,NULL),(10,1,'2024-06-01 00:00:00',2,5,'TZ1',0,0,500,1,NULL)",
    "INSERT INTO topup VALUES (1,1,'2024-04-10 10:00:00',2,50000,50000,1,''),(2,2,'2024-05-20 12:00:00',3,30000,28000,2,'活动')",
    "INSERT INTO gift_redemption VALUES (1,2,'2024-05-31 23:59:59',3,1,NULL,1,1000,1000),(2,1,'2024-05-10 08:00:00',2,2,NULL,1,2000,3000),"
    "(3,1,'2024-05-12 08:00:00',2,1,NULL,1,1000,1500)",
};

void fillChain(const QString &props)
{
    auto db = Database::OpenForWriting(props);
    for (const QString &ddl : Schema::TableStatements(db->Driver()))
        db->Exec(ddl);
    // The balance ledger first, so that its triggers follow every movement written below.
    for (const QString &ddl : Schema::LedgerStatements(db->Driver()))
        db->Exec(ddl);
    for (const char *sql : chain)
        db->Exec(QString::fromUtf8(sql));
    for (const QString &ddl : Schema::IndexStatements(db->Driver()))
        db->Exec(ddl);
}

// One line per row: the named fields, "|"-separated, numbers as the record set holds them.
QStringList rows(const RecordsetPtr &rs, const QStringList &fields)
{
    QStringList out;
    for (qint64 r = 0; r < rs->RecordCount(); ++r) {
        QStringList cells;
        for (const QString &f : fields) {
            const QVariant v = rs->Value(r, f);
            cells << (v.typeId() == QMetaType::QDateTime ? v.toDateTime().toString(QStringLiteral("yyyy-MM-dd")) : v.toString());
        }
        out << cells.join(u'|');
    }
    return out;
}

} // namespace

struct ReportCase { int engine; int rptId; Filter filter; QStringList fields; QStringList expected; };

// expected: codes, or "error"
struct LookupCase { int engine; int type; QString condition; QString search; QString expected; };

struct WrongValue { int engine; int rptId; Filter filter; QString expected; };

struct Hostile { int engine; int rptId; QString key; Filter base; };

struct ZoneCase { int engine; QByteArray zone; Filter filter; QStringList expected; };

class tst_ServerReports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_dbs.Create(QStringLiteral("hand"), fillChain, &error), qPrintable(error));
    }

    void cleanupTestCase() { m_dbs.Drop(); }

    void report_data()
    {
        QTest::addColumn<ReportCase>("row");

        const QStringList ledger{"FRowKind", "FCardId", "DoType", "FBillNo", "FCardAmount", "FVipNum", "FAdjustCardAmountAdd",
                                 "FAdjustCardAmountDec", "FAdjustVipNum", "FResidualCardAmount", "FResidualVipNum"};
        const Filter may{{"Year", 2024}, {"Month", 5.0}, {"ShowSumOnly", qint16(0)}, {"ShowVipDo", qint16(0)}};
        const QStringList card1{"0|8001|期初||500|76|0|0|0|500|76", "0|8001|消费|XS001|500|76|0|172|0|328|76",
                                "0|8001|积分累计|XS001|328|76|0|0|172|328|248", "0|8001|退货|TH003|328|248|48|0|0|376|248",
                                "0|8001|积分累计|TH003|376|248|0|0|-48|376|200", "1|8001|小计||500|76|48|172|124|376|200"};
        const QStringList card2{"0|8002|期初||0|0|0|0|0|0|0", "0|8002|充值|CZ2|0|0|300|0|0|300|0",
                                "0|8002|积分累计|XS002|300|0|0|0|144|300|144", "0|8002|礼品兑换|LP1|300|144|0|0|-10|300|134",
                                "1|8002|小计||0|0|300|0|134|300|134"};
        const QStringList card3{"0|8003|期初||0|0|0|0|0|0|0", "1|8003|小计||0|0|0|0|0|0|0"};
        const QString ledgerTotal = "2|合计|||500|76|348|172|258|676|334";

        const QStringList sales{"FRowKind", "FNo", "FVipNo", "FBranchName", "FAmount", "FpayAmount", "FDiscountAmount", "ftimes"};
        const QStringList lines{"FRowKind", "FMemCardID", "FOperDate", "FID", "FNumber", "FBrNo", "FAuxiName", "FQty",
                                "FSalePrice", "FSaleAmount", "FAmount", "FDiscountAmount", "FSaleWay", "FCashier", "FPos"};
        const QStringList gifts{"FRowKind", "FNumber", "FName", "FCardID", "FStockNo", "FStockName", "FQty", "FVipNum", "FOperDate"};
        const QStringList topups{"FRowKind", "FCardID", "FVipName", "FStockNo", "FStockName", "FPlusAmt", "FPlusRealAmt", "FOperman", "FNote"};
        const QStringList prices{"FRowKind", "FNumber", "FBarCode", "FUnitName", "FSalePrice", "FVipPrice", "FHelpCode", "FCoefficient"};
        // The end date 10902 receives is one day after the user's choice.
        const QDateTime edate(QDate(2024, 6, 1), QTime(23, 59, 59));

        struct Case { const char *name; int rptId; Filter filter; QStringList fields; QStringList expected; };
        const std::vector<Case> cases{
            {"10901_month", 10901, may, ledger, card1 + card2 + card3 + QStringList{ledgerTotal}},
            {"10901_active_only", 10901, Filter(may) << qMakePair(QString("ShowVipDo"), QVariant(qint16(1))), ledger,
             card1 + card2 + QStringList{"2|合计|||500|76|348|172|258|676|334"}},
            {"10901_sum_only", 10901, Filter(may) << qMakePair(QString("ShowSumOnly"), QVariant(qint16(1))), ledger,
             {card1.last(), card2.last(), card3.last(), ledgerTotal}},
            {"10901_branch_and_name", 10901, Filter(may) << qMakePair(QString("BBranchNum"), QVariant("002"))
                 << qMakePair(QString("EBranchNum"), QVariant("002")) << qMakePair(QString("VipName"), QVariant("李")),
             ledger, card2 + QStringList{"2|合计|||0|0|300|0|134|300|134"}},
            {"10901_month_as_text", 10901, {{"Year", "2024"}, {"Month", "5"}, {"ShowSumOnly", 1}, {"BVipNum", "8002"}}, ledger,
             {card2.last(), card3.last(), "2|合计|||0|0|300|0|134|300|134"}},
            {"10902_by_card", 10902, {{"BDate", "2024-05-01 00:00:00"}, {"EDate", edate}, {"GroupBy", 0}, {"SumOnly", qint16(0)}}, sales,
             {"0|8001|8001|一店|130|124|6|1", "0|8002|8002|二店|150|144|6|1", "2|合计|||280|268|12|2"}},
            {"10902_by_branch", 10902, {{"BDate", "2024-05-01 00:00:00"}, {"EDate", edate}, {"GroupBy", 1}}, sales,
             {"0|一店|8001|一店|130|124|6|1", "1|一店|小计||130|124|6|1", "0|二店|8002|二店|150|144|6|1",
              "1|二店|小计||150|144|6|1", "2|合计|||280|268|12|2"}},
            {"10902_by_type_sum_only", 10902, {{"BDate", "2024-05-01 00:00:00"}, {"EDate", "2024-06-01 23:59:59"}, {"GroupBy", "2"}, {"SumOnly", 1}},
             sales, {"1|普通卡|小计||130|124|6|1", "1|金卡|小计||150|144|6|1", "2|合计|||280|268|12|2"}},
            {"10902_by_salesperson", 10902, {{"BDate", "2024-05-01 00:00:00"}, {"EDate", edate}, {"GroupBy", 3.0}}, sales,
             {"0||8002|二店|150|144|6|1", "1||小计||150|144|6|1", "0|业务丙|8001|一店|130|124|6|1", "1|业务丙|小计||130|124|6|1",
              "2|合计|||280|268|12|2"}},
            {"10902_card_sum_only", 10902, {{"BDate", "2024-04-01 00:00:00"}, {"EDate", edate}, {"GroupBy", 0}, {"SumOnly", 1}}, sales,
             {"1|8001|||210|200|10|2", "1|8002|||150|144|6|1", "2|合计|||360|344|16|3"}},
            // Whole days: an end that lands on 2024-06-01 00:00 stops before that day; one day more takes it in.
            {"10902_whole_days_end", 10902, {{"BDate", "2024-05-31 12:00:00"}, {"EDate", "2024-06-01 00:00:00"}, {"GroupBy", 0}}, sales,
             {"0|8002|8002|二店|150|144|6|1", "2|合计|||150|144|6|1"}},
            {"10902_whole_days_next", 10902, {{"BDate", "2024-05-31 23:59:59"}, {"EDate", QDateTime(QDate(2024, 6, 2), QTime(0, 0))}, {"GroupBy", 0}}, sales,
             {"0|8002|8002|一店|50|48|2|1", "0|8002|8002|二店|150|144|6|1", "2|合计|||200|192|8|2"}},
            {"10903_month", 10903, {{"BDate", "2024-05-01 00:00:00"}, {"EDate", "2024-05-31 23:59:59"}}, lines,
             {"0|8001|2024-05-01 10:00:00|XS001|1001|6901|红色|2|48|96|100|4|销售|收银甲|P1",
              "0|8001|2024-05-01 10:00:00|XS001|1002|6903||1|76|76|80|4|销售|收银甲|P1",
              "0|8001|2024-05-15 09:00:00|TH003|1001|6901||-1|48|-48|-50|-2|退货|收银甲|P1",
              "0|8002|2024-05-31 23:59:59|XS002|1001|6901||3|48|144|150|6|销售|收银乙|P2",
              "2|合计||||||5||268|280|12|||"}},
            {"10903_to_the_second", 10903, {{"BDate", "2024-05-31 23:59:59"}, {"EDate", "2024-06-01 00:00:00"}, {"Cashier", "E2"}}, lines,
             {"0|8002|2024-05-31 23:59:59|XS002|1001|6901||3|48|144|150|6|销售|收银乙|P2", "2|合计||||||3||144|150|6|||"}},
            {"10903_codes", 10903, {{"Bcustnum", "C1"}, {"Ecustnum", ""}, {"Brand", "B1"}, {"Pos", "P2"}, {"BItemNum", "1001"}, {"EItemNum", "1001"}},
             lines, {"0|8002|2024-05-31 23:59:59|XS002|1001|6901||3|48|144|150|6|销售|收银乙|P2", "2|合计||||||3||144|150|6|||"}},
            {"10903_bill_contains", 10903, {{"Billnumber", "h0"}, {"BBranchNum", "001"}, {"EBranchNum", "001"}}, lines,
             {"0|8001|2024-05-15 09:00:00|TH003|1001|6901||-1|48|-48|-50|-2|退货|收银甲|P1", "2|合计||||||-1||-48|-50|-2|||"}},
            {"10904_by_item", 10904, {{"BDate", "2024-05-01 00:00:00"}, {"EDate", "2024-05-31 23:59:59"}, {"GroupBy", 0}, {"SumOnly", 0}}, gifts,
             {"0|1001|大米|8001|001|一店|1|15|2024-05-12 08:00:00", "0|1001|大米|8002|002|二店|1|10|2024-05-31 23:59:59",
              "1|1001|小计||||2|25|", "0|1002|食用油|8001|001|一店|2|30|2024-05-10 08:00:00", "1|1002|小计||||2|30|",
              "2|合计|||||4|55|"}},
            {"10904_by_branch_filtered", 10904, {{"GroupBy", 2}, {"BStockNo", "002"}, {"EStockNo", "002"}, {"BTypeID", "02"}}, gifts,
             {"0|1001|大米|8002|002|二店|1|10|2024-05-31 23:59:59", "1||||002|小计|1|10|", "2|合计|||||1|10|"}},
            {"10904_by_card_sum_only", 10904, {{"GroupBy", 1}, {"SumOnly", qint16(1)}, {"BItemNum", "1001"}, {"EItemNum", "1001"}}, gifts,
             {"1|||8001|||1|15|", "1|||8002|||1|10|", "2|合计|||||2|25|"}},
            {"10905_by_card", 10905, {{"BDate", "2024-05-01 00:00:00"}, {"EDate", "2024-05-31 23:59:59"}, {"GroupBy", 0}}, topups,
             {"0|8002|李四|002|二店|300|280|收银乙|活动", "1|8002|小计|||300|280||", "2|合计||||300|280||"}},
            {"10905_by_branch", 10905, {{"GroupBy", 1}, {"SumOnly", 1}}, topups,
             {"1|||001|小计|500|500||", "1|||002|小计|300|280||", "2|合计||||800|780||"}},
            {"10906_all", 10906, {}, prices,
             {"0|1001|6901|个|50|48|DM|1", "0|1001|6902|箱|50|48|DM|10", "0|1002|6903|个|80|76|SYY|1"}},
            {"10906_bar_code", 10906, {{"BarCode", " 6902 "}, {"BItemNumber", "1001"}, {"EItemNumber", "1002"}}, prices,
             {"0|1001|6901|个|50|48|DM|1", "0|1001|6902|箱|50|48|DM|10"}},
        };
        for (size_t e = 0; e < m_dbs.Engines().size(); ++e) {
            for (const Case &c : cases) {
                QTest::newRow(qPrintable(m_dbs.Engines()[e].name + u':' + QString::fromLatin1(c.name)))
                    << ReportCase{int(e), c.rptId, c.filter, c.fields, c.expected};
            }
        }
    }

    void report()
    {
        QFETCH(ReportCase, row);
        const auto &[engine, rptId, filter, fields, expected] = row;
        const RecordsetPtr rs = run(engine, rptId, filter);
        QCOMPARE(rows(rs, fields), expected);
    }

    void fieldTypes_data() { m_dbs.AddRows(); }

    void fieldTypes()
    {
        QFETCH(int, engine);
        using T = Recordset::FieldType;
        const RecordsetPtr ledger = run(engine, 10901, {{"Year", 2024}, {"Month", 5}});
        QCOMPARE(ledger->FieldTypeOf(ledger->FieldIndex("FDate")), T::DateTime);
        QCOMPARE(ledger->Value(0, "FDate").toDateTime(), QDateTime(QDate(2024, 5, 1), QTime(0, 0)));
        QCOMPARE(ledger->Value(1, "FDate").toDateTime(), QDateTime(QDate(2024, 5, 1), QTime(10, 0)));
        QCOMPARE(ledger->FieldTypeOf(ledger->FieldIndex("FCardAmount")), T::Double);
        const RecordsetPtr sales = run(engine, 10902, {{"GroupBy", 1}, {"BDate", "2024-05-01"}, {"EDate", "2024-06-01"}});
        QCOMPARE(sales->FieldTypeOf(sales->FieldIndex("ftimes")), T::Integer);
        QCOMPARE(sales->FieldTypeOf(sales->FieldIndex("vip_birthday")), T::DateTime);
        QCOMPARE(sales->Value(0, "vip_birthday").toDateTime().date(), QDate(1990, 5, 1));
        QCOMPARE(sales->Value(0, "FEmpName").toString(), QStringLiteral("业务丙"));
        QCOMPARE(sales->FieldTypeOf(sales->FieldIndex("FRowKind")), T::Integer);
        const RecordsetPtr lines = run(engine, 10903, {});
        QCOMPARE(lines->FieldTypeOf(lines->FieldIndex("FOperDate")), T::Text);
        QCOMPARE(lines->FieldTypeOf(lines->FieldIndex("FQty")), T::Double);
        QCOMPARE(lines->FieldCount(), 21);
    }

    void wrongValues_data()
    {
        QTest::addColumn<WrongValue>("row");
        struct Case { const char *name; int rptId; Filter filter; const char *expected; };
        const std::vector<Case> cases{
            {"month_13", 10901, {{"Year", 2024}, {"Month", 13.0}}, "Month"},
            {"month_fraction", 10901, {{"Year", 2024}, {"Month", 5.5}}, "Month"},
            {"year_missing", 10901, {{"Month", 5}}, "Year"},
            {"bdate_not_a_date", 10903, {{"BDate", "2024-02-30 00:00:00"}}, "BDate"},
            {"edate_text", 10902, {{"GroupBy", 0}, {"EDate", "yesterday"}}, "EDate"},
            {"groupby_unknown", 10902, {{"GroupBy", 4}}, "GroupBy"},
            {"groupby_missing", 10904, {}, "GroupBy"},
            {"groupby_10905", 10905, {{"GroupBy", "2"}}, "GroupBy"},
            {"sumonly_text", 10905, {{"GroupBy", 0}, {"SumOnly", "yes"}}, "SumOnly"},
            {"key_is_object", 10906, {{"BarCode", QVariant::fromValue(Dictionary::Create())}}, "BarCode"},
            {"unknown_report", 10999, {}, "10999"},
        };
        for (size_t e = 0; e < m_dbs.Engines().size(); ++e)
            for (const Case &c : cases)
                QTest::newRow(qPrintable(m_dbs.Engines()[e].name + u':' + QString::fromLatin1(c.name)))
                    << WrongValue{int(e), c.rptId, c.filter, QString::fromUtf8(c.expected)};
    }

    void wrongValues()
    {
        QFETCH(WrongValue, row);
        const auto &[engine, rptId, filter, expected] = row;
        const QString error = ErrorOf([&] { run(engine, rptId, filter); });
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    void hostileText_data()
    {
        QTest::addColumn<Hostile>("row");
        const QList<QPair<int, QStringList>> keys{
            {10901, {"BVipNum", "EVipNum", "BVipTypeNum", "EVipTypeNum", "VipName", "BBranchNum", "EBranchNum"}},
            {10902, {"BVipNum", "EVipNum", "VipName", "BBranchNum", "EBranchNum"}},
            {10903, {"BVipNum", "EVipNum", "BItemNum", "EItemNum", "Bcustnum", "Ecustnum", "Cashier", "Pos", "Brand", "Billnumber",
                     "BBranchNum", "EBranchNum"}},
            {10904, {"BCardID", "ECardID", "BItemNum", "EItemNum", "BTypeID", "ETypeID", "BStockNo", "EStockNo"}},
            {10905, {"BCardID", "ECardID", "BTypeID", "ETypeID", "BStockNo", "EStockNo"}},
            {10906, {"BItemNumber", "EItemNumber", "BarCode"}},
        };
        for (size_t e = 0; e < m_dbs.Engines().size(); ++e)
            for (const auto &[rptId, names] : keys)
                for (const QString &key : names)
                    QTest::newRow(qPrintable(QStringLiteral("%1:%2:%3").arg(m_dbs.Engines()[e].name).arg(rptId).arg(key)))
                        << Hostile{int(e), rptId, key,
                        (rptId == 10901 ? Filter{{"Year", 2024}, {"Month", 5}} : Filter{{"GroupBy", 0}})};
    }

    void hostileText()
    {
        QFETCH(Hostile, row);
        const auto &[engine, rptId, key, base] = row;
        const QString props = m_dbs.Engines()[size_t(engine)].props;
        const QStringList before = TestDatabases::TableCounts(props);
        const QStringList values{"'", "\"", "'; DROP TABLE sale_line; --", "%", "_", "\\", "8001' OR '1'='1"};
        for (const QString &value : values) {
            const RecordsetPtr rs = run(engine, rptId, Filter(base) << qMakePair(key, QVariant(value)));
            // Exact and "contains" keys match nothing; a range bound still gives rows, never an error.
            const bool single = key == u"VipName" || key == u"Billnumber" || key == u"Cashier" || key == u"Pos"
                || key == u"Brand" || key == u"BarCode";
            if (single) {
                const qint64 details = rs->RecordCount() - (rptId == 10906 ? 0 : 1);
                QVERIFY2(details == 0, qPrintable(QStringLiteral("%1 rows for %2").arg(details).arg(value.left(30))));
            }
        }
        // A NUL character, a line break or a megabyte of text is refused with a text naming the key.
        for (const QString &value : {QStringLiteral("a") + QChar(0) + QStringLiteral("b"), QStringLiteral("a\nb"),
                                     QString(1024 * 1024, u'x')}) {
            const QString error = ErrorOf([&] { run(engine, rptId, Filter(base) << qMakePair(key, QVariant(value))); });
            QVERIFY2(error.contains(key), qPrintable(error));
        }
        QCOMPARE(TestDatabases::TableCounts(props), before);
    }

    void lookup_data()
    {
        QTest::addColumn<LookupCase>("row");
        struct Case { const char *name; int type; const char *condition; const char *search; const char *expected; };
        const std::vector<Case> cases{
            {"branches_top", 5, " x2.FParentID=0 ", "", "000,001,002,009"},
            {"branches_no_trade1", 5, " x2.FParentID=0 and x2.Ftradetype<>1", "", "000,001,002"},
            {"branches_all", 5, "", "", "000,001,00101,002,009"},
            {"branches_search_name", 5, "", "一店", "001,00101"},
            {"cards_live", 50, " FDeleted=0 ", "", "8001,8002"},
            {"cards_underscore_literal", 50, "", "_", ""},
            {"cards_name", 50, "", "王", "8003"},
            {"cards_percent_literal", 50, "", "%", ""},
            {"cashiers", 49, "", "", "E1,E2"},
            {"items_search_code", 4, "", "02", "1002"},
            {"customers", 1, "", "", "C1"},
            {"pos", 47, "", "", "P1,P2"},
            {"card_types", 51, "", "金", "02"},
            {"brands", 713, "", "", "B1,B2"},
            {"condition_spliced", 5, " x2.FParentID=0 or 1=1", "", "error"},
            {"condition_wrong_list", 50, " x2.FParentID=0 ", "", "error"},
            {"unknown_type", 99, "", "", "error"},
        };
        for (size_t e = 0; e < m_dbs.Engines().size(); ++e)
            for (const Case &c : cases)
                QTest::newRow(qPrintable(m_dbs.Engines()[e].name + u':' + QString::fromLatin1(c.name)))
                    << LookupCase{int(e), c.type, QString::fromUtf8(c.condition), QString::fromUtf8(c.search), QString::fromUtf8(c.expected)};
    }

    void lookup()
    {
        QFETCH(LookupCase, row);
        const auto &[engine, type, condition, search, expected] = row;
        GLData data(BranchScope::HeadOffice());
        try {
            const RecordsetPtr rs = data.GetLookupList(m_dbs.Engines()[size_t(engine)].props, type, condition, search);
            QStringList codes;
            for (qint64 r = 0; r < rs->RecordCount(); ++r)
                codes << rs->TextAt(r, rs->FieldIndex("FNumber"));
            QCOMPARE(codes.join(u','), expected);
            QVERIFY(rs->FieldIndex("FName") >= 0);
        } catch (const VelError &e) {
            QVERIFY2(expected == u"error", qPrintable(e.Description()));
        }
    }

    // 10902's whole days are the chain's in every local zone, also on a day that starts at 01:00
    // locally (Havana 2024-03-10, Santiago 2024-09-08).
    void wallClockDates_data()
    {
        QTest::addColumn<ZoneCase>("row");
        const QStringList before{"0|8002|8002|二店|100|96|4|1", "2|合计|||100|96|4|1"};
        const QStringList first{"0|8002|8002|二店|50|48|2|1", "2|合计|||50|48|2|1"};
        // 10902 gets the end one day after the user's; it counts whole days before it.
        struct Case { const char *name; Filter filter; QStringList expected; };
        const std::vector<Case> cases{
            {"10902_from_03-10", {{"GroupBy", 0}, {"BDate", "2024-03-10"}, {"EDate", "2024-03-11 23:59:59"}}, first},
            {"10902_to_03-10", {{"GroupBy", 0}, {"BDate", "2024-03-01"}, {"EDate", "2024-03-10 23:59:59"}}, before},
            {"10902_from_09-08", {{"GroupBy", 0}, {"BDate", "2024-09-08"}, {"EDate", "2024-09-09 23:59:59"}}, first},
            {"10902_to_09-08", {{"GroupBy", 0}, {"BDate", "2024-09-01"}, {"EDate", "2024-09-08 23:59:59"}}, before},
        };
        for (size_t e = 0; e < m_dbs.Engines().size(); ++e)
            for (const QByteArray &zone : TestZones)
                for (const Case &c : cases)
                    QTest::newRow(qPrintable(QStringLiteral("%1:%2:%3").arg(m_dbs.Engines()[e].name, zone, c.name)))
                        << ZoneCase{int(e), zone, c.filter, c.expected};
    }

    void wallClockDates()
    {
        QFETCH(ZoneCase, row);
        const auto &[engine, zone, filter, expected] = row;
        const ZoneScope inZone(zone);
        const QStringList fields{"FRowKind", "FNo", "FVipNo", "FBranchName", "FAmount", "FpayAmount", "FDiscountAmount", "ftimes"};
        QCOMPARE(rows(run(engine, 10902, filter), fields), expected);
    }

private:
    RecordsetPtr run(int engine, qint32 rptId, const Filter &filter) { return m_dbs.Run(engine, rptId, filter); }
    TestDatabases m_dbs;
};

QTEST_GUILESS_MAIN(tst_ServerReports)
#include "tst_serverreports.moc"
