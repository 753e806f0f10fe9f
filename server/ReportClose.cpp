// The accountant's close beside the roll-forward 10908: stored-value ageing as at a cut-off
// (10909), settlement between branches (10910) and prepaid-fund custody per quarter (10911).
//
// A card's balance and paid part as at a moment are those after its latest value movement up
// to that moment: card_value_split, one index seek per card (FCardID, FDate, FMoveID), however
// long the history. Rows are keyed by the card's issuing branch (member_card.FBranchID), which
// holds the card's money; 10910 pairs it with the branch where the value was spent.
#include "ReportQueries.h"

#include "Database.h"
#include "FilterValues.h"
#include "ReportTable.h"
#include "RowCursor.h"
#include "Schema.h"
#include "VelError.h"

#include <array>
#include <map>
#include <utility>

namespace {

using Kind = ReportTable::Kind;

// A column of card `c`'s latest value movement before `op` ? (one seek).
QString splitAt(const char *column, const char *op)
{
    return QStringLiteral("(SELECT x.%1 FROM card_value_split x WHERE x.FCardID = c.FID AND x.FDate %2 ? "
                          "ORDER BY x.FDate DESC, x.FMoveID DESC LIMIT 1)")
        .arg(QLatin1String(column), QLatin1String(op));
}

const QString cardJoins = QStringLiteral("FROM member_card c LEFT JOIN card_type t ON t.FID = c.FTypeID "
                                         "LEFT JOIN branch s ON s.FID = c.FBranchID");

// Issuing branch range, card type range and the user's branch scope on the cards.
void cardTerms(SqlWhere &where, const FilterValues &values, const BranchScope &scope, bool types)
{
    where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BBranchNum")), values.Text(QStringLiteral("EBranchNum")));
    if (types)
        where.Range(QStringLiteral("t.FNumber"), values.Text(QStringLiteral("BVipTypeNum")), values.Text(QStringLiteral("EVipTypeNum")));
    where.InScope(QStringLiteral("s.FNumber"), scope);
}

qint64 halfEven(qint64 n, qint64 d)
{
    if (d <= 0)
        return 0;
    const qint64 a = n < 0 ? -n : n;
    qint64 q = a / d;
    const qint64 r = a % d;
    if (2 * r > d || (2 * r == d && q % 2))
        ++q;
    return n < 0 ? -q : q;
}

// ---- 10909 ----------------------------------------------------------------------------------

const std::array<QString, 5> bands{QStringLiteral("0-3个月"), QStringLiteral("3-6个月"), QStringLiteral("6-12个月"),
                                   QStringLiteral("12-24个月"), QStringLiteral("24个月以上")};

// The band of a last movement at `last` ("yyyy-MM-dd HH:mm:ss") for the bounds' texts: the
// first band whose bound lies before it.
int bandOf(QStringView last, const std::array<QString, 4> &bounds)
{
    for (int i = 0; i < 4; ++i) {
        if (last.left(19) > QStringView(bounds[i]))
            return i;
    }
    return 4;
}

RecordsetPtr ageing(const Database &db, const FilterValues &values, const BranchScope &scope, const QDateTime &cut)
{
    const QString cutText = FilterValues::SqlDateTime(cut);
    std::array<QString, 4> bounds;
    const int months[] = {3, 6, 12, 24};
    for (int i = 0; i < 4; ++i)
        bounds[i] = FilterValues::SqlDateTime(cut.addMonths(-months[i]));
    const bool list = values.Switch(QStringLiteral("ShowCards"));
    const qint64 limit = qint64(values.Int(QStringLiteral("MinBalance"), 0, 100000000, 5000)) * 100;

    SqlWhere where(db.Driver());
    cardTerms(where, values, scope, true);
    const QString inner = QStringLiteral("SELECT c.FNumber AS cardNo, c.FName AS vipName, s.FNumber AS branchNo, s.FName AS branchName, "
                                         "t.FNumber AS typeNo, t.FName AS typeName, %1 AS bal, %2 AS cash, %3 AS lastDate %4%5")
                              .arg(splitAt("FValueAfter", "<="), splitAt("FCashAfter", "<="), splitAt("FDate", "<="), cardJoins,
                                   where.Sql());
    QVariantList params{cutText, cutText, cutText};
    params += where.Params();
    QString outer = QStringLiteral("SELECT * FROM (%1) q WHERE q.bal <> 0").arg(inner);
    if (list) {
        outer += QStringLiteral(" AND q.bal > ?");
        params << limit;
    }
    auto c = db.Select(outer + QStringLiteral(" ORDER BY q.cardNo"), params);

    if (list) {
        ReportTable table({{QStringLiteral("FCardNo"), Kind::Text}, {QStringLiteral("FVipName"), Kind::Text},
                           {QStringLiteral("FBranchNo"), Kind::Text}, {QStringLiteral("FBranchName"), Kind::Text},
                           {QStringLiteral("FTypeName"), Kind::Text}, {QStringLiteral("FBalance"), Kind::Money, true},
                           {QStringLiteral("FPaid"), Kind::Money, true}, {QStringLiteral("FBonus"), Kind::Money, true},
                           {QStringLiteral("FLastDate"), Kind::Date}, {QStringLiteral("FAgeBand"), Kind::Text}});
        while (c->Next()) {
            const qint64 bal = c->Int(6), cash = c->Int(7);
            const qint64 row = table.AddRow(ReportTable::Detail);
            for (int f : {0, 1, 2, 3})
                table.SetText(row, f, c->Text(f));
            table.SetText(row, 4, c->Text(5));
            const qint64 parts[] = {bal, cash, bal - cash};
            for (int i = 0; i < 3; ++i) {
                table.SetNumber(row, 5 + i, parts[i]);
                table.Accumulate(5 + i, parts[i]);
            }
            table.SetDate(row, 8, c->Text(8));
            table.SetText(row, 9, bands[bandOf(c->Text(8), bounds)]);
        }
        const qint64 row = table.AddTotal();
        table.SetText(row, 0, QStringLiteral("合计"));
        return table.Result();
    }

    // Per band: balance, paid part, bonus part, cards; then the same over all bands.
    struct Cell { QString branchName, typeName; std::array<qint64, 24> f{}; };
    std::map<std::pair<QString, QString>, Cell> cells;
    while (c->Next()) {
        Cell &cell = cells[{c->Text(2).toString(), c->Text(4).toString()}];
        cell.branchName = c->Text(3).toString();
        cell.typeName = c->Text(5).toString();
        const qint64 bal = c->Int(6), cash = c->Int(7);
        for (int at : {4 * bandOf(c->Text(8), bounds), 20}) {
            cell.f[at] += bal;
            cell.f[at + 1] += cash;
            cell.f[at + 2] += bal - cash;
            cell.f[at + 3] += 1;
        }
    }
    std::vector<ReportTable::Column> columns{{QStringLiteral("FBranchNo"), Kind::Text}, {QStringLiteral("FBranchName"), Kind::Text},
                                             {QStringLiteral("FTypeName"), Kind::Text}};
    for (int b = 0; b <= 5; ++b) {
        const QString stem = b < 5 ? QStringLiteral("FAge%1").arg(b + 1) : QStringLiteral("FTotal");
        for (const char *part : {"", "Paid", "Bonus"})
            columns.push_back({stem + QLatin1String(part), Kind::Money, true});
        columns.push_back({stem + QStringLiteral("Cards"), Kind::Count, true});
    }
    ReportTable table(std::move(columns));
    for (const auto &[key, cell] : cells) {
        const qint64 row = table.AddRow(ReportTable::Detail);
        table.SetText(row, 0, key.first);
        table.SetText(row, 1, cell.branchName);
        table.SetText(row, 2, cell.typeName);
        for (int f = 0; f < 24; ++f) {
            table.SetNumber(row, 3 + f, cell.f[f]);
            table.Accumulate(3 + f, cell.f[f]);
        }
    }
    const qint64 row = table.AddTotal();
    table.SetText(row, 0, QStringLiteral("合计"));
    return table.Result();
}

// ---- 10911 ----------------------------------------------------------------------------------

enum CustodyField {
    cBranchNo, cBranchName, cPrevPaid, cPaid, cValue, cRatio, cCustody, cRevenue, cShare, cCap, cCapAmount, cOverCap,
    cIssued, cOutstanding, cCount
};

struct CustodyRow
{
    QString branchName;
    qint64 prevPaid = 0, paid = 0, value = 0, revenue = 0, issued = 0, outstanding = 0;
};

} // namespace

namespace ReportQueries {

RecordsetPtr Run10909(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const auto cut = values.DateTime(QStringLiteral("EDate"));
    if (!cut)
        throw VelError(QStringLiteral("过滤条件缺少“EDate”（截止日期）"), Vel::ErrTypeMismatch, QString(), Vel::ErrorKind::BadFilter);
    Schema::RequireLedger(db);
    return ageing(db, values, scope, *cut);
}

RecordsetPtr Run10910(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const auto from = values.DateTime(QStringLiteral("BDate"));
    const auto to = values.DateTime(QStringLiteral("EDate"));
    if (!from || !to)
        throw VelError(QStringLiteral("过滤条件缺少“BDate”或“EDate”（结算期间）"), Vel::ErrTypeMismatch, QString(),
                       Vel::ErrorKind::BadFilter);
    Schema::RequireLedger(db);

    // Which pairs the ranges show; the others still give the reverse side of a shown pair.
    SqlWhere shown(db.Driver());
    shown.Range(QStringLiteral("si.FNumber"), values.Text(QStringLiteral("BBranchNum")), values.Text(QStringLiteral("EBranchNum")));
    shown.Range(QStringLiteral("sm.FNumber"), values.Text(QStringLiteral("BSpendNum")), values.Text(QStringLiteral("ESpendNum")));
    const QString shownSql = shown.Sql().isEmpty() ? QStringLiteral("1") : QStringLiteral("CASE WHEN %1 THEN 1 ELSE 0 END")
                                                                                .arg(shown.Sql().mid(7));
    SqlWhere where(db.Driver());
    where.DateFrom(QStringLiteral("m.FDate"), from);
    where.DateTo(QStringLiteral("m.FDate"), to, true);
    where.Add(QStringLiteral("m.FKind IN (2, 3)"));
    if (!scope.IsHeadOffice())
        where.Add(QStringLiteral("(si.FNumber = ? OR sm.FNumber = ?)"), {scope.Number(), scope.Number()});
    auto c = db.Select(QStringLiteral("SELECT si.FNumber, si.FName, sm.FNumber, sm.FName, m.FKind, SUM(m.FValueSpent - m.FValueAdd), "
                                      "SUM(COALESCE(x.FCash, 0)), %1 FROM card_movement m JOIN member_card c ON c.FID = +m.FCardID "
                                      "LEFT JOIN branch si ON si.FID = c.FBranchID LEFT JOIN branch sm ON sm.FID = m.FBranchID "
                                      "LEFT JOIN card_value_split x ON x.FMoveID = m.FID%2 GROUP BY 1, 2, 3, 4, 5, 8")
                           .arg(shownSql, where.Sql()),
                       shown.Params() + where.Params());

    enum { fSpend, fSpendPaid, fSpendBonus, fRefundPaid, fNetPaid, fOwed, fOwedBack, fNet, fCount };
    struct Pair { QString issueName, spendName; bool shown = false; std::array<qint64, fCount> f{}; };
    std::map<std::pair<QString, QString>, Pair> pairs;
    while (c->Next()) {
        Pair &p = pairs[{c->Text(0).toString(), c->Text(2).toString()}];
        p.issueName = c->Text(1).toString();
        p.spendName = c->Text(3).toString();
        p.shown = p.shown || c->Int(7) == 1;
        const qint64 value = c->Int(5), cash = c->Int(6);
        if (c->Int(4) == Schema::Payment) {
            p.f[fSpend] += value;
            p.f[fSpendPaid] -= cash;
            p.f[fSpendBonus] += value + cash;
        } else {
            p.f[fRefundPaid] += cash;
        }
    }
    for (auto &[key, p] : pairs) {
        p.f[fNetPaid] = p.f[fSpendPaid] - p.f[fRefundPaid];
        p.f[fOwed] = key.first == key.second ? 0 : p.f[fNetPaid];
    }
    for (auto &[key, p] : pairs) {
        const auto back = pairs.find({key.second, key.first});
        p.f[fOwedBack] = key.first == key.second || back == pairs.end() ? 0 : back->second.f[fOwed];
        p.f[fNet] = p.f[fOwed] - p.f[fOwedBack];
    }

    std::vector<ReportTable::Column> columns{{QStringLiteral("FIssueNo"), Kind::Text}, {QStringLiteral("FIssueName"), Kind::Text},
                                             {QStringLiteral("FSpendNo"), Kind::Text}, {QStringLiteral("FSpendName"), Kind::Text}};
    for (const char *name : {"FSpend", "FSpendPaid", "FSpendBonus", "FRefundPaid", "FNetPaid", "FOwed", "FOwedBack", "FNet"})
        columns.push_back({QLatin1String(name), Kind::Money, true});
    ReportTable table(std::move(columns));
    QString group;
    const auto subtotal = [&] {
        if (table.GroupEmpty())
            return;
        const qint64 row = table.AddSubtotal();
        table.SetText(row, 0, group);
        table.SetText(row, 2, QStringLiteral("小计"));
    };
    for (const auto &[key, p] : pairs) {
        if (!p.shown)
            continue;
        if (key.first != group)
            subtotal();
        group = key.first;
        const qint64 row = table.AddRow(ReportTable::Detail);
        table.SetText(row, 0, key.first);
        table.SetText(row, 1, p.issueName);
        table.SetText(row, 2, key.second);
        table.SetText(row, 3, p.spendName);
        for (int f = 0; f < fCount; ++f) {
            table.SetNumber(row, 4 + f, p.f[f]);
            table.Accumulate(4 + f, p.f[f]);
        }
    }
    subtotal();
    table.SetText(table.AddTotal(), 0, QStringLiteral("合计"));
    return table.Result();
}

RecordsetPtr Run10911(const Database &db, const Dictionary *filter, const BranchScope &scope)
{
    const FilterValues values(filter);
    const qint32 year = values.Int(QStringLiteral("Year"), 1900, 9999, std::nullopt);
    const qint32 quarter = values.Int(QStringLiteral("Quarter"), 1, 4, std::nullopt);
    const qint32 ratio = values.Int(QStringLiteral("CustodyRatio"), 20, 40, 40);
    if (ratio % 10)
        throw VelError(QStringLiteral("过滤条件“CustodyRatio”应为 20、30 或 40"), Vel::ErrTypeMismatch, QString(),
                       Vel::ErrorKind::BadFilter);
    const qint32 cap = values.Int(QStringLiteral("RevenueCap"), 1, 100, 40);
    Schema::RequireLedger(db);
    const QDate first(year, 3 * quarter - 2, 1);
    const auto at = [](const QDate &d) { return FilterValues::SqlDateTime(QDateTime(d, QTime(0, 0), Qt::UTC)); };
    const QString start = at(first), end = at(first.addMonths(3));

    std::map<QString, CustodyRow> rows;
    {
        SqlWhere where(db.Driver());
        cardTerms(where, values, scope, false);
        auto c = db.Select(QStringLiteral("SELECT s.FNumber, s.FName, %1, %2, %3, %4 %5%6")
                               .arg(splitAt("FCashAfter", "<"), splitAt("FValueAfter", "<"), splitAt("FCashAfter", "<"),
                                    QStringLiteral("(SELECT x.FDate FROM card_value_split x WHERE x.FCardID = c.FID "
                                                   "ORDER BY x.FDate, x.FMoveID LIMIT 1)"),
                                    cardJoins, where.Sql()),
                           QVariantList{end, end, start} + where.Params());
        while (c->Next()) {
            if (c->IsNull(3))
                continue;   // no value on the card before the quarter's end
            CustodyRow &r = rows[c->Text(0).toString()];
            r.branchName = c->Text(1).toString();
            const qint64 paid = c->Int(2), value = c->Int(3);
            r.paid += paid;
            r.value += value;
            r.prevPaid += c->Int(4);
            r.outstanding += value > 0 ? 1 : 0;
            const QStringView firstMove = c->Text(5).left(19);
            r.issued += firstMove >= QStringView(start) && firstMove < QStringView(end) ? 1 : 0;
        }
    }
    {
        // Sales of the previous calendar year at each branch.
        const bool dated = Schema::HasDatedLines(db);
        SqlWhere where(db.Driver());
        const QString yearFrom = at(QDate(year - 1, 1, 1)), yearTo = at(QDate(year, 1, 1));
        where.Add(QStringLiteral("b.FDate >= ? AND b.FDate < ?"), {yearFrom, yearTo});
        if (dated)
            where.Add(QStringLiteral("l.FDate >= ? AND l.FDate < ?"), {yearFrom, yearTo});
        where.Range(QStringLiteral("s.FNumber"), values.Text(QStringLiteral("BBranchNum")), values.Text(QStringLiteral("EBranchNum")));
        where.InScope(QStringLiteral("s.FNumber"), scope);
        auto c = db.Select(QStringLiteral("SELECT s.FNumber, s.FName, SUM(l.FSaleAmount) FROM sale_bill b "
                                          "JOIN sale_line l ON l.FBillID = b.FID LEFT JOIN branch s ON s.FID = b.FBranchID%1 "
                                          "GROUP BY s.FNumber, s.FName")
                               .arg(where.Sql()),
                           where.Params());
        while (c->Next()) {
            CustodyRow &r = rows[c->Text(0).toString()];
            r.branchName = c->Text(1).toString();
            r.revenue += c->Int(2);
        }
    }

    std::vector<ReportTable::Column> columns;
    for (const char *name : {"FBranchNo", "FBranchName"})
        columns.push_back({QLatin1String(name), Kind::Text});
    for (const char *name : {"FPrevPaid", "FPaid", "FValue", "FRatio", "FCustody", "FRevenue", "FShare", "FCap", "FCapAmount", "FOverCap"})
        columns.push_back({QLatin1String(name), Kind::Money});
    for (const char *name : {"FIssued", "FOutstanding"})
        columns.push_back({QLatin1String(name), Kind::Count});
    ReportTable table(std::move(columns));
    auto put = [&](qint64 row, const CustodyRow &r) {
        const qint64 capAmount = halfEven(r.revenue * cap, 100);
        const qint64 f[cCount] = {0, 0, r.prevPaid, r.paid, r.value, qint64(ratio) * 100, halfEven(r.prevPaid * ratio, 100),
                                  r.revenue, halfEven(r.paid * 10000, r.revenue), qint64(cap) * 100, capAmount,
                                  std::max<qint64>(0, r.paid - capAmount), r.issued, r.outstanding};
        for (int i = cPrevPaid; i < cCount; ++i)
            table.SetNumber(row, i, f[i]);
    };
    CustodyRow total;
    for (const auto &[branch, r] : rows) {
        const qint64 row = table.AddRow(ReportTable::Detail);
        table.SetText(row, cBranchNo, branch);
        table.SetText(row, cBranchName, r.branchName);
        put(row, r);
        total.prevPaid += r.prevPaid;
        total.paid += r.paid;
        total.value += r.value;
        total.revenue += r.revenue;
        total.issued += r.issued;
        total.outstanding += r.outstanding;
    }
    const qint64 row = table.AddRow(ReportTable::Total);
    table.SetText(row, cBranchNo, QStringLiteral("合计"));
    put(row, total);
    return table.Result();
}

} // namespace ReportQueries
