#include "Schema.h"

#include "DbDriver.h"

namespace {

const char *const tables[] = {
    "CREATE TABLE branch (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, "
    "FParentID %INT NOT NULL DEFAULT 0, FTradeType %INT NOT NULL DEFAULT 0)",
    "CREATE TABLE card_type (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE employee (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, "
    "FBranchID %INT, FIsCashier %INT NOT NULL DEFAULT 0)",
    "CREATE TABLE pos (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, FBranchID %INT NOT NULL)",
    "CREATE TABLE customer (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE brand (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE unit (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE aux_prop (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL)",
    "CREATE TABLE discount_type (FID %ID, FName %TEXT NOT NULL)",
    "CREATE TABLE member_card (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, "
    "FTypeID %INT NOT NULL, FBirthday %DT, FMobile %TEXT, FTel %TEXT, FAddress %TEXT, "
    "FBranchID %INT NOT NULL, FSalesmanID %INT, FDeleted %INT NOT NULL DEFAULT 0)",
    "CREATE TABLE item (FID %ID, FNumber %CODE NOT NULL UNIQUE, FName %TEXT NOT NULL, FModel %TEXT, "
    "FUnitID %INT NOT NULL, FBrandID %INT, FHelpCode %TEXT, FRetailPrice %INT NOT NULL, FVipPrice %INT NOT NULL)",
    "CREATE TABLE item_barcode (FID %ID, FItemID %INT NOT NULL, FBarCode %CODE NOT NULL UNIQUE, "
    "FUnitID %INT NOT NULL, FCoefficient %INT NOT NULL)",
    "CREATE TABLE sale_bill (FID %ID, FBillNo %CODE NOT NULL UNIQUE, FBranchID %INT NOT NULL, "
    "FPosID %INT, FCashierID %INT, FCustomerID %INT, FCardID %INT, FDate %DT NOT NULL, FReturn %INT NOT NULL)",
    // Lines of returns carry negative quantities and amounts.
    "CREATE TABLE sale_line (FID %ID, FBillID %INT NOT NULL, FLineNo %INT NOT NULL, FItemID %INT NOT NULL, "
    "FAuxID %INT, FUnitID %INT NOT NULL, FBarID %INT, FQty %INT NOT NULL, FPrice %INT NOT NULL, "
    "FSalePrice %INT NOT NULL, FAmount %INT NOT NULL, FSaleAmount %INT NOT NULL, FDiscountID %INT)",
    "CREATE TABLE card_movement (FID %ID, FCardID %INT NOT NULL, FDate %DT NOT NULL, FBranchID %INT NOT NULL, "
    "FKind %INT NOT NULL, FBillNo %CODE, FValueAdd %INT NOT NULL, FValueSpent %INT NOT NULL, "
    "FPoints %INT NOT NULL, FOperatorID %INT)",
    "CREATE TABLE topup (FID %ID, FCardID %INT NOT NULL, FDate %DT NOT NULL, FBranchID %INT NOT NULL, "
    "FAmount %INT NOT NULL, FPaid %INT NOT NULL, FOperatorID %INT, FNote %TEXT)",
    "CREATE TABLE gift_redemption (FID %ID, FCardID %INT NOT NULL, FDate %DT NOT NULL, FBranchID %INT NOT NULL, "
    "FItemID %INT NOT NULL, FAuxID %INT, FUnitID %INT NOT NULL, FQty %INT NOT NULL, FPoints %INT NOT NULL)",
};

const char *const indexes[] = {
    "CREATE INDEX ix_sale_bill_date ON sale_bill (FDate)",
    "CREATE INDEX ix_sale_bill_card ON sale_bill (FCardID)",
    "CREATE INDEX ix_sale_line_bill ON sale_line (FBillID, FLineNo)",
    "CREATE INDEX ix_movement_card ON card_movement (FCardID, FDate)",
    "CREATE INDEX ix_movement_date ON card_movement (FDate)",
    "CREATE INDEX ix_topup_date ON topup (FDate)",
    "CREATE INDEX ix_topup_card ON topup (FCardID)",
    "CREATE INDEX ix_gift_date ON gift_redemption (FDate)",
    "CREATE INDEX ix_gift_card ON gift_redemption (FCardID)",
    "CREATE INDEX ix_card_type ON member_card (FTypeID)",
    "CREATE INDEX ix_item_brand ON item (FBrandID)",
    "CREATE INDEX ix_barcode_item ON item_barcode (FItemID)",
    "CREATE INDEX ix_branch_parent ON branch (FParentID)",
};

} // namespace

namespace Schema {

QStringList TableStatements(const DbDriver &driver)
{
    QStringList out;
    for (const char *ddl : tables)
        out << driver.SchemaSql(QString::fromUtf8(ddl));
    return out;
}

QStringList IndexStatements(const DbDriver &driver)
{
    QStringList out;
    for (const char *ddl : indexes)
        out << driver.SchemaSql(QString::fromUtf8(ddl));
    return out;
}

QStringList TableNames()
{
    return {QStringLiteral("branch"), QStringLiteral("card_type"), QStringLiteral("employee"),
            QStringLiteral("pos"), QStringLiteral("customer"), QStringLiteral("brand"),
            QStringLiteral("unit"), QStringLiteral("aux_prop"), QStringLiteral("discount_type"),
            QStringLiteral("member_card"), QStringLiteral("item"), QStringLiteral("item_barcode"),
            QStringLiteral("sale_bill"), QStringLiteral("sale_line"), QStringLiteral("card_movement"),
            QStringLiteral("topup"), QStringLiteral("gift_redemption")};
}

QString MovementKindName(qint64 kind)
{
    switch (kind) {
    case TopUp: return QStringLiteral("充值");
    case Payment: return QStringLiteral("消费");
    case Refund: return QStringLiteral("退货");
    case PointsEarned: return QStringLiteral("积分累计");
    case PointsAdjusted: return QStringLiteral("积分调整");
    case GiftRedeemed: return QStringLiteral("礼品兑换");
    }
    return QString();
}

} // namespace Schema
