// Reports over member sales: 10902 (summed by a grouping) and 10903 (line by line).
#include "ReportQueries.h"

#include "Database.h"
#include "FilterValues.h"
#include "ReportTable.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"
#include "HostContextReader.h"
#include "WallClock.h"

#include "DesktopProps.h"

namespace {

using Kind = ReportTable::Kind;

// The data component runs in the host's process and reads the host's context through the
// plug-in's own getters. Called without a published context (tests, benchmarks that drive
// the component alone), it keeps the branch of sale.
bool branchOfSaleShown()
{
    if (!DesktopProps::GetProp(DesktopProps::ContextPropName()))
        return true;
    return ShowsBranchOfSale();
}

// Columns of the per card and branch sums that every grouping of 10902 starts from.
enum SalesColumn {
    sCardNo, sVipName, sTypeName, sBranchName, sBirthday, sMobile, sTel, sAddress, sEmpName,
    sAmount, sPayAmount, sDiscount, sTimes, sKeyId, sKeyName
};

} // namespace

namespace ReportQueries {

SqlQuery Sales10902(const DbDriver &driver, const Dictionary *filter, const BranchScope &scope, bool datedLines)
{
    const FilterValues values(filter);
    const qint32 groupBy = values.Int(QStringLiteral("GroupBy"), 0, 3, std::nullopt);
    const auto from = values.DateTime(QStringLiteral("BDate"));
    const auto to = values.DateTime(QStringLiteral("EDate"));

    // Whole days: from the start of the first day up to the start of the end date's day.
    SqlWhere where(driver);
    // "+" keeps the planner on the date index: member bills are most bills.
    where.Add(QStringLiteral("+b.FCardID IS NOT NULL"));
    if (from)
        where.DateFrom(QStringLiteral("b.FDate"), WallClock::At(from->date()));
    if (to)
        where.DateTo(QStringLiteral("b.FDate"), WallClock::At(to->date()), false);
    // The lines' own copy of the dates, so that only the period's partitions of lines are read
    // (the planner does not carry a range across a join). A join on it as well would only
    // spoil the row estimates: bill ids are unique.
    if (datedLines && from)
        where.DateFrom(QStringLiteral("l.FDate"), WallClock::At(from->date()));
    if (datedLines && to)
        where.DateTo(QStringLiteral("l.FDate"), WallClock::At(to->date()), false);
    where.Range(QStringLiteral("c.FNumber"), values.Text(QStringLiteral("BVipNum")), values.Text(QStringLiteral("EVipNum")));
    where.Contains(QStringLiteral("c.FName"), values.Text(QStringLiteral("VipName")));
    where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BBranchNum")), values.Text(QStringLiteral("EBranchNum")));
    where.InScope(QStringLiteral("s.FNumber"), scope);

    // One row per card and branch of sale only where the header shows the branch (grouping 1
    // always does); otherwise one row per card, so no card repeats with the same visible values.
    const bool perBranch = groupBy == 1 || branchOfSaleShown();
    static const char *const keys[4][3] = {
        // key id, key name, order (%1 is the branch order where rows are per branch)
        {"c.FID", "c.FNumber", "c.FNumber%1"},
        {"s.FID", "s.FName", "s.FNumber, c.FNumber"},
        {"t.FID", "t.FName", "COALESCE(t.FNumber, '')%1, c.FNumber"},
        {"e.FID", "e.FName", "COALESCE(e.FNumber, '')%1, c.FNumber"},
    };
    const auto &key = keys[groupBy];
    const QString order = QString::fromLatin1(key[2]).replace(QStringLiteral("%1"), perBranch ? QStringLiteral(", s.FNumber") : QString());
    SqlQuery q;
    q.sql = QStringLiteral(
        "SELECT c.FNumber, c.FName, t.FName, %6, %1, c.FMobile, c.FTel, c.FAddress, e.FName, "
        "g.amount, g.payAmount, g.amount - g.payAmount, g.times, %2, %3 "
        "FROM (SELECT b.FCardID AS cardId%7, SUM(l.FAmount) AS amount, "
        "SUM(l.FSaleAmount) AS payAmount, COUNT(DISTINCT CASE WHEN b.FReturn = 0 THEN b.FID END) AS times "
        "FROM sale_bill b JOIN sale_line l ON l.FBillID = b.FID "
        "JOIN member_card c ON c.FID = b.FCardID JOIN branch s ON s.FID = b.FBranchID%4 "
        "GROUP BY b.FCardID%8) g "
        "JOIN member_card c ON c.FID = g.cardId%9 "
        "LEFT JOIN card_type t ON t.FID = c.FTypeID LEFT JOIN employee e ON e.FID = c.FSalesmanID "
        "ORDER BY %5")
                .arg(driver.DateTimeText(QStringLiteral("c.FBirthday")), QString::fromLatin1(key[0]),
                     QString::fromLatin1(key[1]), where.Sql(), order,
                     perBranch ? QStringLiteral("s.FName") : QStringLiteral("NULL"),
                     perBranch ? QStringLiteral(", b.FBranchID AS branchId") : QString(),
                     perBranch ? QStringLiteral(", b.FBranchID") : QString(),
                     perBranch ? QStringLiteral(" JOIN branch s ON s.FID = g.branchId") : QString());
    q.params = where.Params();
    return q;
}

RecordsetPtr Run10902(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const qint32 groupBy = values.Int(QStringLiteral("GroupBy"), 0, 3, std::nullopt);
    const bool sumOnly = values.Switch(QStringLiteral("SumOnly"));
    const SqlQuery q = Sales10902(db.Driver(), filter, scope, Schema::HasDatedLines(db));

    ReportTable table({
        {QStringLiteral("FNo"), Kind::Text},
        {QStringLiteral("FVipNo"), Kind::Text, false, sCardNo},
        {QStringLiteral("FVipName"), Kind::Text, false, sVipName},
        {QStringLiteral("Ftype_name"), Kind::Text, false, sTypeName},
        {QStringLiteral("FBranchName"), Kind::Text, false, sBranchName},
        {QStringLiteral("FAmount"), Kind::Money, true, sAmount},
        {QStringLiteral("FpayAmount"), Kind::Money, true, sPayAmount},
        {QStringLiteral("FDiscountAmount"), Kind::Money, true, sDiscount},
        {QStringLiteral("ftimes"), Kind::Count, true, sTimes},
        {QStringLiteral("vip_birthday"), Kind::Date, false, sBirthday},
        {QStringLiteral("vip_mobile"), Kind::Text, false, sMobile},
        {QStringLiteral("FVipTel"), Kind::Text, false, sTel},
        {QStringLiteral("FVipAdd"), Kind::Text, false, sAddress},
        {QStringLiteral("FEmpName"), Kind::Text, false, sEmpName},
    });
    const int fNo = table.Field(QStringLiteral("FNo"));
    const int fVipNo = table.Field(QStringLiteral("FVipNo"));
    const int fVipName = table.Field(QStringLiteral("FVipName"));
    const int fType = table.Field(QStringLiteral("Ftype_name"));

    // Grouping 0 has no subtotals; with "SumOnly" it keeps one summary row per card.
    struct Group { bool open = false; qint64 id = 0; bool null = true; QString name, card, vipName, type; };
    Group group;
    auto closeGroup = [&] {
        if (!group.open)
            return;
        const qint64 row = table.AddSubtotal();
        table.SetText(row, fNo, groupBy == 0 ? group.card : group.name);
        if (groupBy == 0) {
            table.SetText(row, fVipName, group.vipName);
            table.SetText(row, fType, group.type);
        } else {
            table.SetText(row, fVipNo, QStringLiteral("小计"));
        }
        group.open = false;
    };
    const bool subtotals = groupBy != 0 || sumOnly;

    auto cursor = db.Select(q.sql, q.params);
    while (cursor->Next()) {
        const bool keyNull = cursor->IsNull(sKeyId);
        const qint64 keyId = keyNull ? 0 : cursor->Int(sKeyId);
        if (subtotals && (!group.open || keyNull != group.null || keyId != group.id)) {
            closeGroup();
            group = {true, keyId, keyNull, cursor->Text(sKeyName).toString(), cursor->Text(sCardNo).toString(),
                     cursor->Text(sVipName).toString(), cursor->Text(sTypeName).toString()};
        }
        const bool keep = !sumOnly;
        table.CopyDetail(*cursor, keep);
        if (keep) {
            const qint64 row = table.Result()->RecordCount() - 1;
            table.SetText(row, fNo, cursor->Text(groupBy == 0 ? sCardNo : sKeyName));
        }
    }
    if (subtotals)
        closeGroup();
    const qint64 total = table.AddTotal();
    table.SetText(total, fNo, QStringLiteral("合计"));
    return table.Result();
}

SqlQuery Lines10903(const DbDriver &driver, const Dictionary *filter, const BranchScope &scope, bool datedLines)
{
    const FilterValues values(filter);
    SqlWhere where(driver);
    // "+" keeps the planner on the date index: member bills are most bills.
    where.Add(QStringLiteral("+b.FCardID IS NOT NULL"));
    where.DateFrom(QStringLiteral("b.FDate"), values.DateTime(QStringLiteral("BDate")));
    where.DateTo(QStringLiteral("b.FDate"), values.DateTime(QStringLiteral("EDate")), true);
    // As in Sales10902.
    if (datedLines) {
        where.DateFrom(QStringLiteral("l.FDate"), values.DateTime(QStringLiteral("BDate")));
        where.DateTo(QStringLiteral("l.FDate"), values.DateTime(QStringLiteral("EDate")), true);
    }
    where.Range(QStringLiteral("c.FNumber"), values.Text(QStringLiteral("BVipNum")), values.Text(QStringLiteral("EVipNum")));
    where.Range(QStringLiteral("i.FNumber"), values.Text(QStringLiteral("BItemNum")), values.Text(QStringLiteral("EItemNum")));
    where.Range(QStringLiteral("cu.FNumber"), values.Text(QStringLiteral("Bcustnum")), values.Text(QStringLiteral("Ecustnum")));
    where.Equals(QStringLiteral("e.FNumber"), values.Text(QStringLiteral("Cashier")));
    where.Equals(QStringLiteral("p.FNumber"), values.Text(QStringLiteral("Pos")));
    where.Equals(QStringLiteral("br.FNumber"), values.Text(QStringLiteral("Brand")));
    where.Contains(QStringLiteral("b.FBillNo"), values.Text(QStringLiteral("Billnumber")));
    where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BBranchNum")), values.Text(QStringLiteral("EBranchNum")));
    where.InScope(QStringLiteral("s.FNumber"), scope);

    // The branch is joined first: past eight joins the planner keeps the written order, and a
    // branch's month must not join the whole chain's month of lines before keeping its own.
    SqlQuery q;
    q.sql = QStringLiteral(
        "SELECT c.FNumber, c.FName, %1, b.FBillNo, i.FNumber, i.FName, i.FModel, bc.FBarCode, a.FName, u.FName, "
        "l.FQty, l.FSalePrice, l.FSaleAmount, l.FPrice, l.FAmount, l.FAmount - l.FSaleAmount, "
        "CASE WHEN b.FReturn = 1 THEN '退货' ELSE '销售' END, d.FName, e.FName, p.FNumber "
        "FROM sale_bill b LEFT JOIN branch s ON s.FID = b.FBranchID JOIN sale_line l ON l.FBillID = b.FID "
        "JOIN member_card c ON c.FID = b.FCardID JOIN item i ON i.FID = l.FItemID "
        "LEFT JOIN item_barcode bc ON bc.FID = l.FBarID LEFT JOIN aux_prop a ON a.FID = l.FAuxID "
        "LEFT JOIN unit u ON u.FID = l.FUnitID LEFT JOIN discount_type d ON d.FID = l.FDiscountID "
        "LEFT JOIN employee e ON e.FID = b.FCashierID LEFT JOIN pos p ON p.FID = b.FPosID "
        "LEFT JOIN customer cu ON cu.FID = b.FCustomerID "
        "LEFT JOIN brand br ON br.FID = i.FBrandID%2 "
        "ORDER BY b.FDate, b.FBillNo, l.FLineNo")
                .arg(driver.DateTimeText(QStringLiteral("b.FDate")), where.Sql());
    q.params = where.Params();
    return q;
}

RecordsetPtr Run10903(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const SqlQuery q = Lines10903(db.Driver(), filter, scope, Schema::HasDatedLines(db));
    ReportTable table({
        {QStringLiteral("FMemCardID"), Kind::Text, false, 0},
        {QStringLiteral("FMemName"), Kind::Text, false, 1},
        {QStringLiteral("FOperDate"), Kind::DateTimeText, false, 2},
        {QStringLiteral("FID"), Kind::Text, false, 3},
        {QStringLiteral("FNumber"), Kind::Text, false, 4},
        {QStringLiteral("FName"), Kind::Text, false, 5},
        {QStringLiteral("FModel"), Kind::Text, false, 6},
        {QStringLiteral("FBrNo"), Kind::Text, false, 7},
        {QStringLiteral("FAuxiName"), Kind::Text, false, 8},
        {QStringLiteral("FUnitName"), Kind::Text, false, 9},
        {QStringLiteral("FQty"), Kind::Qty, true, 10},
        {QStringLiteral("FSalePrice"), Kind::Money, false, 11},
        {QStringLiteral("FSaleAmount"), Kind::Money, true, 12},
        {QStringLiteral("FPrice"), Kind::Money, false, 13},
        {QStringLiteral("FAmount"), Kind::Money, true, 14},
        {QStringLiteral("FDiscountAmount"), Kind::Money, true, 15},
        {QStringLiteral("FSaleWay"), Kind::Text, false, 16},
        {QStringLiteral("FDiscountType"), Kind::Text, false, 17},
        {QStringLiteral("FCashier"), Kind::Text, false, 18},
        {QStringLiteral("FPos"), Kind::Text, false, 19},
    });
    auto cursor = db.Select(q.sql, q.params);
    while (cursor->Next())
        table.CopyDetail(*cursor, true);
    const qint64 total = table.AddTotal();
    table.SetText(total, table.Field(QStringLiteral("FMemCardID")), QStringLiteral("合计"));
    return table.Result();
}

} // namespace ReportQueries
