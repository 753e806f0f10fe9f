#pragma once

#include "ReportFrame.h"

#include <QDateTime>

#include <memory>

// 储值积分变动表: stored-value and points movements per card.
class Rpt10901 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10901(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
};

// 会员消费表: members' spending summed by the chosen grouping. The server receives an end date
// one day later than the user's; the filter holds the user's end date as a date value afterwards.
class Rpt10902 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10902(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
    bool HasPeriodTitleOption() const override { return true; }
    void BeforeRequest() override;
    void AfterRequest() override;
private:
    QDateTime m_shiftedEnd;
};

// 会员消费明细表: the line items of members' purchases.
class Rpt10903 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10903(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
    bool HasPeriodTitleOption() const override { return true; }
};

// 礼品兑换表: gift redemptions, laid out by item, member or branch.
class Rpt10904 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10904(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
    bool HasPeriodTitleOption() const override { return true; }
};

// 充值流水表: the top-up journal, laid out by member or branch.
class Rpt10905 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10905(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
    bool HasPeriodTitleOption() const override { return true; }
};

// 商品零售价格资料表: items with their retail and member prices; a chosen bar code adds a title line.
class Rpt10906 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10906(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
    bool MessageBeforeServer() const override { return true; }
    void AppendTitleLines(VectorPtr &title) override;
};

// 储值负债变动表: the month's stored-value liability roll-forward per branch and card type, its
// paid and bonus parts, and the points roll-forward.
class Rpt10908 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10908(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
};

// 储值余额账龄表: stored-value balances as at a cut-off by time since each card's last value movement,
// per issuing branch and card type; or ("ShowCards") the cards whose balance exceeds a limit.
class Rpt10909 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10909(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
};

// 跨店结算表: the paid part of stored value spent per issuing branch x spending branch, and what
// one branch owes another.
class Rpt10910 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10910(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
};

// 预付资金存管表: prepaid funds (paid part) per issuing branch at a quarter's end, the custody
// required and the balance's share of the previous year's sales.
class Rpt10911 : public ReportFrame
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit Rpt10911(QObject *parent = nullptr);
protected:
    bool AppendColumns() override;
    void WriteProperties(Dictionary &property) const override;
};

// A new report object for a report number of the catalogue, or nullptr.
std::unique_ptr<IQueryReport> NewReport(qint32 rptId);
