// Reports 10904 (gift redemptions), 10905 (top-ups) and 10906 (item prices).
#include "ReportQueries.h"

#include "Database.h"
#include "FilterValues.h"
#include "ReportTable.h"
#include "RowCursor.h"
#include "VelError.h"

namespace {

using Kind = ReportTable::Kind;

// Streams detail rows, adding a subtotal whenever the key column changes and a total at the
// end. The subtotal keeps the key and puts "小计" in `labelField`.
RecordsetPtr groupedJournal(const Database &db, const SqlQuery &q, ReportTable &table, int keySource,
                            int keyField, int labelField, bool sumOnly)
{
    auto cursor = db.Select(q.sql, q.params);
    QString key;
    bool open = false;
    auto close = [&] {
        if (!open)
            return;
        const qint64 row = table.AddSubtotal();
        table.SetText(row, keyField, key);
        table.SetText(row, labelField, QStringLiteral("小计"));
    };
    while (cursor->Next()) {
        const QStringView k = cursor->Text(keySource);
        if (!open || k != key) {
            close();
            key = k.toString();
            open = true;
        }
        table.CopyDetail(*cursor, !sumOnly);
    }
    close();
    const qint64 total = table.AddTotal();
    table.SetText(total, 0, QStringLiteral("合计"));
    return table.Result();
}

void addDates(SqlWhere &where, const FilterValues &values, const QString &expr)
{
    where.DateFrom(expr, values.DateTime(QStringLiteral("BDate")));
    where.DateTo(expr, values.DateTime(QStringLiteral("EDate")), true);
}

} // namespace

namespace ReportQueries {

RecordsetPtr Run10904(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const qint32 groupBy = values.Int(QStringLiteral("GroupBy"), 0, 2, std::nullopt);
    const bool sumOnly = values.Switch(QStringLiteral("SumOnly"));
    SqlWhere where(db.Driver());
    addDates(where, values, QStringLiteral("g.FDate"));
    where.Range(QStringLiteral("c.FNumber"), values.Text(QStringLiteral("BCardID")), values.Text(QStringLiteral("ECardID")));
    where.Range(QStringLiteral("i.FNumber"), values.Text(QStringLiteral("BItemNum")), values.Text(QStringLiteral("EItemNum")));
    where.Range(QStringLiteral("t.FNumber"), values.Text(QStringLiteral("BTypeID")), values.Text(QStringLiteral("ETypeID")));
    where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BStockNo")), values.Text(QStringLiteral("EStockNo")));
    where.InScope(QStringLiteral("s.FNumber"), scope);
    static const char *const orderKeys[] = {"i.FNumber", "c.FNumber", "s.FNumber"};
    const SqlQuery q{QStringLiteral(
        "SELECT i.FNumber, i.FName, i.FModel, a.FName, u.FName, g.FQty, g.FPoints, %1, c.FNumber, c.FName, "
        "t.FName, s.FNumber, s.FName FROM gift_redemption g JOIN member_card c ON c.FID = g.FCardID "
        "LEFT JOIN card_type t ON t.FID = c.FTypeID JOIN item i ON i.FID = g.FItemID "
        "LEFT JOIN aux_prop a ON a.FID = g.FAuxID LEFT JOIN unit u ON u.FID = g.FUnitID "
        "JOIN branch s ON s.FID = g.FBranchID%2 ORDER BY %3, g.FDate, g.FID")
                         .arg(db.Driver().DateTimeText(QStringLiteral("g.FDate")), where.Sql(),
                              QString::fromLatin1(orderKeys[groupBy])),
                     where.Params()};
    ReportTable table({
        {QStringLiteral("FNumber"), Kind::Text, false, 0},
        {QStringLiteral("FName"), Kind::Text, false, 1},
        {QStringLiteral("FModel"), Kind::Text, false, 2},
        {QStringLiteral("FAuxiName"), Kind::Text, false, 3},
        {QStringLiteral("FUnitName"), Kind::Text, false, 4},
        {QStringLiteral("FQty"), Kind::Qty, true, 5},
        {QStringLiteral("FVipNum"), Kind::Money, true, 6},
        {QStringLiteral("FOperDate"), Kind::DateTimeText, false, 7},
        {QStringLiteral("FCardID"), Kind::Text, false, 8},
        {QStringLiteral("FVipName"), Kind::Text, false, 9},
        {QStringLiteral("FTypeName"), Kind::Text, false, 10},
        {QStringLiteral("FStockNo"), Kind::Text, false, 11},
        {QStringLiteral("FStockName"), Kind::Text, false, 12},
    });
    // key column in the query, key field, label field
    static const int layout[3][3] = {{0, 0, 1}, {8, 8, 9}, {11, 11, 12}};
    const auto &l = layout[groupBy];
    RecordsetPtr rs = groupedJournal(db, q, table, l[0], l[1], l[2], sumOnly);
    return rs;
}

RecordsetPtr Run10905(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const qint32 groupBy = values.Int(QStringLiteral("GroupBy"), 0, 1, std::nullopt);
    const bool sumOnly = values.Switch(QStringLiteral("SumOnly"));
    SqlWhere where(db.Driver());
    addDates(where, values, QStringLiteral("tp.FDate"));
    where.Range(QStringLiteral("c.FNumber"), values.Text(QStringLiteral("BCardID")), values.Text(QStringLiteral("ECardID")));
    where.Range(QStringLiteral("t.FNumber"), values.Text(QStringLiteral("BTypeID")), values.Text(QStringLiteral("ETypeID")));
    where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BStockNo")), values.Text(QStringLiteral("EStockNo")));
    where.InScope(QStringLiteral("s.FNumber"), scope);
    const SqlQuery q{QStringLiteral(
        "SELECT c.FNumber, c.FName, t.FName, tp.FAmount, tp.FPaid, %1, e.FName, tp.FNote, s.FNumber, s.FName "
        "FROM topup tp JOIN member_card c ON c.FID = tp.FCardID LEFT JOIN card_type t ON t.FID = c.FTypeID "
        "JOIN branch s ON s.FID = tp.FBranchID LEFT JOIN employee e ON e.FID = tp.FOperatorID%2 "
        "ORDER BY %3, tp.FDate, tp.FID")
                         .arg(db.Driver().DateTimeText(QStringLiteral("tp.FDate")), where.Sql(),
                              groupBy == 0 ? QStringLiteral("c.FNumber") : QStringLiteral("s.FNumber")),
                     where.Params()};
    ReportTable table({
        {QStringLiteral("FCardID"), Kind::Text, false, 0},
        {QStringLiteral("FVipName"), Kind::Text, false, 1},
        {QStringLiteral("FTypeName"), Kind::Text, false, 2},
        {QStringLiteral("FPlusAmt"), Kind::Money, true, 3},
        {QStringLiteral("FPlusRealAmt"), Kind::Money, true, 4},
        {QStringLiteral("FOperDate"), Kind::DateTimeText, false, 5},
        {QStringLiteral("FOperman"), Kind::Text, false, 6},
        {QStringLiteral("FNote"), Kind::Text, false, 7},
        {QStringLiteral("FStockNo"), Kind::Text, false, 8},
        {QStringLiteral("FStockName"), Kind::Text, false, 9},
    });
    if (groupBy == 0)
        return groupedJournal(db, q, table, 0, 0, 1, sumOnly);
    return groupedJournal(db, q, table, 8, 8, 9, sumOnly);
}

// Item prices are the chain's catalogue, the same at every branch: no branch's rows to keep to.
RecordsetPtr Run10906(const Database &db, const Dictionary *filter, [[maybe_unused]] const BranchScope &scope)
{
    const FilterValues values(filter);
    SqlWhere where(db.Driver());
    where.Range(QStringLiteral("i.FNumber"), values.Text(QStringLiteral("BItemNumber")), values.Text(QStringLiteral("EItemNumber")));
    const QString barCode = values.Text(QStringLiteral("BarCode"));
    if (!barCode.isEmpty())
        where.Add(QStringLiteral("EXISTS (SELECT 1 FROM item_barcode x WHERE x.FItemID = i.FID AND x.FBarCode = ?)"), {barCode});
    auto cursor = db.Select(QStringLiteral(
        "SELECT i.FNumber, bc.FBarCode, i.FName, i.FModel, u.FName, i.FRetailPrice, i.FVipPrice, i.FHelpCode, "
        "bc.FCoefficient FROM item i LEFT JOIN item_barcode bc ON bc.FItemID = i.FID "
        "LEFT JOIN unit u ON u.FID = COALESCE(bc.FUnitID, i.FUnitID)%1 ORDER BY i.FNumber, bc.FBarCode")
                                .arg(where.Sql()),
                            where.Params());
    ReportTable table({
        {QStringLiteral("FNumber"), Kind::Text, false, 0},
        {QStringLiteral("FBarCode"), Kind::Text, false, 1},
        {QStringLiteral("FName"), Kind::Text, false, 2},
        {QStringLiteral("FModel"), Kind::Text, false, 3},
        {QStringLiteral("FUnitName"), Kind::Text, false, 4},
        {QStringLiteral("FSalePrice"), Kind::Money, false, 5},
        {QStringLiteral("FVipPrice"), Kind::Money, false, 6},
        {QStringLiteral("FHelpCode"), Kind::Text, false, 7},
        {QStringLiteral("FCoefficient"), Kind::Qty, false, 8},
    });
    while (cursor->Next())
        table.CopyDetail(*cursor, true);
    return table.Result();
}

} // namespace ReportQueries
