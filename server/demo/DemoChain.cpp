#include "DemoChain.h"

#include "AtomicFile.h"
#include "ConnectionText.h"
#include "Database.h"
#include "DemoWriter.h"
#include "Schema.h"
#include "VelError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and the same everywhere.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed) {}
    quint64 Next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // [0, n)
    qint64 Below(qint64 n) { return n <= 0 ? 0 : qint64(Next() % quint64(n)); }
    qint64 Between(qint64 lo, qint64 hi) { return lo + Below(hi - lo + 1); }
    bool Chance(int percent) { return Below(1000) < percent * 10; }
    bool PerMille(int perMille) { return Below(1000) < perMille; }
    // Skewed towards small indexes: a few items and members are much more popular.
    qint64 Skewed(qint64 n)
    {
        const qint64 a = Below(n), b = Below(n);
        return std::min(a, b);
    }
    template <size_t N>
    const char *Pick(const std::array<const char *, N> &list) { return list[size_t(Below(qint64(N)))]; }

private:
    quint64 m_state;
};

// Stores are named after roads, then after a city and a road: 24 x (1 + 41) names, more than
// the most stores a chain may have. The first eight are the default chain's.
constexpr std::array<const char *, 24> roads{"中山路", "解放路", "人民路", "建设路", "和平路", "新华路", "东风路", "胜利路",
                                             "长江路", "黄河路", "光明路", "幸福路", "友谊路", "北京路", "南京路", "延安路",
                                             "青年路", "文化路", "花园路", "迎宾路", "朝阳路", "复兴路", "滨江路", "学府路"};
constexpr std::array<const char *, 41> cities{"杭州", "宁波", "温州", "绍兴", "嘉兴", "湖州", "金华", "台州", "衢州", "丽水",
                                              "舟山", "苏州", "无锡", "常州", "南京", "扬州", "镇江", "南通", "上海", "合肥",
                                              "芜湖", "福州", "厦门", "泉州", "南昌", "武汉", "长沙", "广州", "深圳", "佛山",
                                              "东莞", "成都", "重庆", "西安", "郑州", "济南", "青岛", "天津", "北京", "沈阳",
                                              "大连"};
static_assert(roads.size() * (1 + cities.size()) >= size_t(DemoOptions::MaxBranches));

std::string storeName(int store)
{
    const size_t round = size_t(store) / roads.size();
    return (round ? std::string(cities[round - 1]) : std::string()) + roads[size_t(store) % roads.size()] + "店";
}
constexpr std::array<const char *, 20> surnames{"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                                "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗"};
constexpr std::array<const char *, 24> givenNames{"伟", "芳", "娜", "秀英", "敏", "静", "丽", "强", "磊", "军", "洋", "勇",
                                                  "艳", "杰", "娟", "涛", "明", "超", "秀兰", "霞", "平", "刚", "桂英", "晨"};
constexpr std::array<const char *, 12> itemWords{"精选", "特级", "家庭装", "经典", "原味", "低糖", "有机", "清香", "醇香",
                                                 "鲜榨", "手工", "优选"};
constexpr std::array<const char *, 24> products{"大米", "面粉", "食用油", "酱油", "香醋", "牛奶", "酸奶", "饼干", "方便面",
                                                "矿泉水", "果汁", "绿茶", "咖啡", "巧克力", "洗衣液", "牙膏", "洗发水",
                                                "纸巾", "毛巾", "拖鞋", "电池", "保鲜膜", "鸡蛋", "苹果"};
constexpr std::array<const char *, 8> models{"500g", "1kg", "2.5kg", "250ml", "1L", "5L", "10片装", "标准装"};
constexpr std::array<const char *, 12> brandNames{"佳禾", "田园", "金穗", "鲜丰", "百味", "明湖", "雪峰", "绿源", "丰收",
                                                  "晨曦", "山泉", "好运"};
constexpr std::array<const char *, 8> units{"个", "瓶", "盒", "袋", "千克", "箱", "包", "支"};
constexpr std::array<const char *, 4> auxNames{"红色", "蓝色", "大号", "小号"};
constexpr std::array<const char *, 4> cardTypes{"普通卡", "银卡", "金卡", "钻石卡"};
constexpr std::array<const char *, 4> discountTypes{"无", "会员价", "促销价", "整单折扣"};
constexpr std::array<const char *, 6> streets{"文化路", "青年路", "光明街", "长江路", "黄河路", "花园街"};

constexpr int boxUnit = 6;     // "箱"
constexpr int kiloUnit = 5;    // "千克"

std::string code(const char *prefix, qint64 n, int width)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%0*lld", prefix, width, static_cast<long long>(n));
    return buf;
}

// "yyyy-MM-dd HH:mm:ss" for a day and seconds since its midnight.
std::string dateTime(const std::string &day, int seconds)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s %02d:%02d:%02d", day.c_str(), seconds / 3600, seconds / 60 % 60, seconds % 60);
    return buf;
}

qint64 lineAmount(qint64 qtyThousandths, qint64 priceHundredths)
{
    const qint64 v = qtyThousandths * priceHundredths;
    return v >= 0 ? (v + 500) / 1000 : -((-v + 500) / 1000);
}

class Generator
{
public:
    Generator(const DemoOptions &o, DemoWriter &w, const DemoChain::Progress &p)
        : m_o(o), m_w(w), m_progress(p ? p : [](const QString &) {}), m_rnd(o.seed), m_rare(o.seed ^ 0x5EED0FF5EED0FFULL)
    {
    }

    void Run()
    {
        say(QStringLiteral("正在生成基础资料"));
        baseData();
        members();
        items();
        sales();
        m_w.Finish([this](const QString &step) { say(step); });
    }

private:
    // `paid`: stored value the card paid for bills and has not had refunded yet.
    struct Card { qint64 balance = 0; qint64 points = 0; qint64 paid = 0; };
    struct Item { qint64 unit, barId, price, vipPrice; };

    void say(const QString &text)
    {
        stopIfAsked();
        m_progress(text);
    }
    static void stopIfAsked()
    {
        if (Database::Stopping())
            throw Vel::Cancelled();
    }

    void baseData()
    {
        // Head office 000, stores 001.., the distribution centre numbered after the last store,
        // then each store's warehouse (its number and 01).
        const int stores = m_o.branches;
        const int branch = m_w.Table("branch", 5);
        m_w.Row(branch, {1, "000", "总部", 0, 0});
        for (int s = 0; s < stores; ++s)
            m_w.Row(branch, {storeId(s), code("", s + 1, 3), storeName(s), 0, 0});
        m_w.Row(branch, {2 + stores, code("", stores + 1, 3), "配送中心", 0, 1});
        for (int s = 0; s < stores; ++s)
            m_w.Row(branch, {3 + stores + s, code("", s + 1, 3) + "01", storeName(s) + "仓库", storeId(s), 0});

        const int cardType = m_w.Table("card_type", 3);
        for (int t = 0; t < int(cardTypes.size()); ++t)
            m_w.Row(cardType, {t + 1, code("", t + 1, 2), cardTypes[size_t(t)]});
        const int unit = m_w.Table("unit", 3);
        for (int u = 0; u < int(units.size()); ++u)
            m_w.Row(unit, {u + 1, code("", u + 1, 2), units[size_t(u)]});
        const int aux = m_w.Table("aux_prop", 3);
        for (int a = 0; a < int(auxNames.size()); ++a)
            m_w.Row(aux, {a + 1, code("", a + 1, 2), auxNames[size_t(a)]});
        const int discount = m_w.Table("discount_type", 2);
        for (int d = 0; d < int(discountTypes.size()); ++d)
            m_w.Row(discount, {d + 1, discountTypes[size_t(d)]});
        const int brand = m_w.Table("brand", 3);
        for (int b = 0; b < int(brandNames.size()); ++b)
            m_w.Row(brand, {b + 1, code("B", b + 1, 2), brandNames[size_t(b)]});
        const int customer = m_w.Table("customer", 3);
        for (int c = 1; c <= 30; ++c)
            m_w.Row(customer, {c, code("C", c, 3), std::string(m_rnd.Pick(streets)) + code("", c, 2) + "号单位"});

        // Per store: three cashiers, two salespeople, two POS terminals.
        const int employee = m_w.Table("employee", 5);
        const int pos = m_w.Table("pos", 4);
        int e = 0;
        for (int s = 0; s < stores; ++s) {
            for (int k = 0; k < 5; ++k) {
                ++e;
                m_w.Row(employee, {e, code("E", e, 4), std::string(m_rnd.Pick(surnames)) + m_rnd.Pick(givenNames),
                                   2 + s, k < 3 ? 1 : 0});
            }
            for (int k = 0; k < 2; ++k) {
                const int id = s * 2 + k + 1;
                m_w.Row(pos, {id, code("P", (s + 1) * 100 + k + 1, 4), storeName(s) + code("", k + 1, 1) + "号机", storeId(s)});
            }
        }
    }

    static int storeId(int store) { return 2 + store; }
    static int cashierId(int store, int k) { return store * 5 + 1 + k; }
    static int salesId(int store, int k) { return store * 5 + 4 + k; }

    void members()
    {
        say(QStringLiteral("正在生成会员"));
        const int card = m_w.Table("member_card", 11);
        m_cards.resize(size_t(m_o.members));
        for (qint64 i = 0; i < m_o.members; ++i) {
            const int store = int(m_rnd.Below(m_o.branches));
            const qint64 typeRoll = m_rnd.Below(100);
            const int type = typeRoll < 60 ? 1 : typeRoll < 85 ? 2 : typeRoll < 97 ? 3 : 4;
            char birthday[32];
            std::snprintf(birthday, sizeof birthday, "%04d-%02d-%02d 00:00:00", int(m_rnd.Between(1950, 2005)),
                          int(m_rnd.Between(1, 12)), int(m_rnd.Between(1, 28)));
            const std::string mobile = code("13", m_rnd.Below(1000000000), 9);
            const std::string tel = m_rnd.Chance(30) ? code("0571-", m_rnd.Between(1000000, 9999999), 7) : std::string();
            const std::string address = std::string(m_rnd.Pick(streets)) + std::to_string(m_rnd.Between(1, 300)) + "号";
            m_w.Row(card, {i + 1, code("8", i + 1, 7), std::string(m_rnd.Pick(surnames)) + m_rnd.Pick(givenNames),
                           type, birthday, mobile, tel.empty() ? DemoCell() : DemoCell(tel), address, storeId(store),
                           m_rnd.Chance(10) ? DemoCell() : DemoCell(salesId(store, int(m_rnd.Below(2)))),
                           m_rnd.PerMille(10) ? 1 : 0});
        }
    }

    void items()
    {
        say(QStringLiteral("正在生成商品"));
        const int item = m_w.Table("item", 9);
        const int bar = m_w.Table("item_barcode", 5);
        qint64 barId = 0;
        for (qint64 i = 0; i < m_o.items; ++i) {
            const qint64 unitRoll = m_rnd.Below(100);
            const qint64 unit = unitRoll < 10 ? kiloUnit : 1 + m_rnd.Below(4);
            const qint64 price = m_rnd.Between(1, 3000) * 10;    // 0.10 .. 300.00
            const qint64 vipPrice = price * 95 / 100;
            const std::string name = std::string(m_rnd.Pick(itemWords)) + m_rnd.Pick(products);
            std::string help;
            for (int k = 0; k < 4; ++k)
                help += char('A' + m_rnd.Below(26));
            m_w.Row(item, {i + 1, code("1", i + 1, 5), name, m_rnd.Pick(models), unit, 1 + m_rnd.Below(qint64(brandNames.size())),
                           help, price, vipPrice});
            m_w.Row(bar, {++barId, i + 1, code("69", 10000000000LL + (i + 1) * 7919 % 9000000000LL, 11), unit, 1000});
            m_items.push_back({unit, barId, price, vipPrice});
            if (m_rnd.Chance(15))
                m_w.Row(bar, {++barId, i + 1, code("169", 10000000000LL + (i + 1) * 104729 % 9000000000LL, 11), boxUnit, 12000});
        }
    }

    void movement(qint64 card, const std::string &when, int store, int kind, const std::string &billNo, qint64 add,
                  qint64 spent, qint64 points, int operatorId, DemoCell paid = DemoCell())
    {
        m_w.Row(m_tMove, {++m_moveId, card + 1, when, storeId(store), kind,
                          billNo.empty() ? DemoCell() : DemoCell(billNo), add, spent, points, operatorId, paid});
        Card &c = m_cards[size_t(card)];
        c.balance += add - spent;
        c.points += points;
    }

    void sales()
    {
        const int bill = m_w.Table("sale_bill", 9);
        const int line = m_w.Table("sale_line", m_o.partitioned ? 14 : 13);
        m_tMove = m_w.Table("card_movement", 11);
        const int topup = m_w.Table("topup", 8);
        const int gift = m_w.Table("gift_redemption", 9);
        const int stores = m_o.branches;
        qint64 billId = 0, lineId = 0, topupId = 0, giftId = 0;
        const qint64 giftItems = std::min<qint64>(20, m_o.items);

        for (int d = 0; d < m_o.days; ++d) {
            const QDate date = m_o.firstDay.addDays(d);
            const std::string day = date.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
            const std::string dayCode = date.toString(QStringLiteral("yyyyMMdd")).toStdString();
            stopIfAsked();
            if (d % 30 == 0)
                say(QStringLiteral("正在生成销售 %1（%2%）").arg(date.toString(QStringLiteral("yyyy-MM"))).arg(d * 100 / m_o.days));

            // Bills spread over opening hours 08:00 to 22:00, in time order.
            const qint64 bills = std::max<qint64>(1, qint64(m_o.linesPerDay) * 2 / 7);
            qint64 linesLeft = m_o.linesPerDay;
            int seq = 0;
            for (qint64 b = 0; b < bills && linesLeft > 0; ++b) {
                const int second = int(8 * 3600 + (b * 14 * 3600 + m_rnd.Below(14 * 3600 / bills + 1)) / bills);
                const std::string when = dateTime(day, std::min(second, 22 * 3600 - 1));
                const int store = int(m_rnd.Below(stores));
                const int cashier = cashierId(store, int(m_rnd.Below(3)));
                const bool isReturn = m_rnd.Chance(3);
                const bool member = m_o.members > 0 && m_rnd.Chance(60);
                const qint64 card = member ? m_rnd.Skewed(m_o.members) : -1;
                const std::string billNo = std::string(isReturn ? "TH" : "XS") + dayCode + code("", ++seq, 5);
                const qint64 lines = b == bills - 1 ? linesLeft : std::min<qint64>(linesLeft, m_rnd.Between(1, 6));
                linesLeft -= lines;
                m_w.Row(bill, {++billId, billNo, storeId(store), store * 2 + 1 + m_rnd.Below(2), cashier,
                               m_rnd.Chance(5) ? DemoCell(1 + m_rnd.Below(30)) : DemoCell(),
                               member ? DemoCell(card + 1) : DemoCell(), when, isReturn ? 1 : 0});
                qint64 total = 0;
                const int sign = isReturn ? -1 : 1;
                for (qint64 l = 0; l < lines; ++l) {
                    const qint64 itemIndex = m_rnd.Skewed(m_o.items);
                    const Item &it = m_items[size_t(itemIndex)];
                    const qint64 qty = sign * (it.unit == kiloUnit ? m_rnd.Between(200, 2500) : 1000 * m_rnd.Between(1, 3));
                    int discount = 1;
                    qint64 salePrice = it.price;
                    if (member) {
                        discount = 2;
                        salePrice = it.vipPrice;
                    } else if (m_rnd.Chance(10)) {
                        discount = 3;
                        salePrice = it.price * 9 / 10;
                    }
                    const qint64 amount = lineAmount(qty, it.price);
                    const qint64 saleAmount = lineAmount(qty, salePrice);
                    total += saleAmount;
                    const DemoCell aux = m_rnd.Chance(15) ? DemoCell(1 + m_rnd.Below(qint64(auxNames.size()))) : DemoCell();
                    // A partitioned chain's lines end with their bill's date.
                    if (m_o.partitioned)
                        m_w.Row(line, {++lineId, billId, l + 1, itemIndex + 1, aux, it.unit, it.barId, qty, it.price, salePrice,
                                       amount, saleAmount, discount, when});
                    else
                        m_w.Row(line, {++lineId, billId, l + 1, itemIndex + 1, aux, it.unit, it.barId, qty, it.price, salePrice,
                                       amount, saleAmount, discount});
                }
                if (member)
                    memberBill(card, when, store, billNo, total, cashier);
            }

            // Top-ups, points adjustments and gifts of the day.
            for (qint64 k = 0, n = std::max<qint64>(1, m_o.members / 60); k < n && m_o.members > 0; ++k) {
                const qint64 card = m_rnd.Skewed(m_o.members);
                const int store = int(m_rnd.Below(stores));
                static const qint64 paid[] = {10000, 20000, 30000, 50000, 100000};
                const qint64 p = paid[m_rnd.Below(5)];
                const qint64 bonus = p >= 100000 ? 15000 : p >= 50000 ? 5000 : 0;
                const std::string when = dateTime(day, int(m_rnd.Between(9 * 3600, 21 * 3600)));
                const std::string no = "CZ" + dayCode + code("", k + 1, 4);
                const int oper = cashierId(store, int(m_rnd.Below(3)));
                m_w.Row(topup, {++topupId, card + 1, when, storeId(store), p + bonus, p, oper,
                                bonus ? DemoCell("充值赠送") : DemoCell("")});
                movement(card, when, store, Schema::TopUp, no, p + bonus, 0, 0, oper, p);
            }
            closeOuts(day, dayCode, stores);
            for (qint64 k = 0, n = m_o.members / 500; k < n; ++k) {
                const qint64 card = m_rnd.Below(m_o.members);
                const qint64 delta = std::max(-m_cards[size_t(card)].points, m_rnd.Between(-2000, 5000) * 10);
                if (delta == 0)
                    continue;
                const int store = int(m_rnd.Below(stores));
                movement(card, dateTime(day, int(m_rnd.Between(9 * 3600, 21 * 3600))), store, Schema::PointsAdjusted,
                         "TZ" + dayCode + code("", k + 1, 4), 0, 0, delta, cashierId(store, 0));
            }
            for (qint64 k = 0, n = std::max<qint64>(1, m_o.members / 300); k < n && m_o.members > 0; ++k) {
                const qint64 card = m_rnd.Skewed(m_o.members);
                const qint64 cost = m_rnd.Between(1, 5) * 10000;
                if (m_cards[size_t(card)].points < cost)
                    continue;
                const int store = int(m_rnd.Below(stores));
                const qint64 item = m_rnd.Below(giftItems);
                const std::string when = dateTime(day, int(m_rnd.Between(9 * 3600, 21 * 3600)));
                m_w.Row(gift, {++giftId, card + 1, when, storeId(store), item + 1, DemoCell(), m_items[size_t(item)].unit,
                               1000, cost});
                movement(card, when, store, Schema::GiftRedeemed, "LP" + dayCode + code("", k + 1, 4), 0, 0, -cost,
                         cashierId(store, 0));
            }
        }
        say(QStringLiteral("正在生成销售（100%）"));
    }

    // The rarer movements of the day, about one in a few hundred members a month: cards
    // returned for their balance (退卡), operators' corrections of a balance either way, value
    // written off on long-idle cards (注销) and points that lapsed. Each draws its own numbers
    // from the generator after the day's other movements.
    void closeOuts(const std::string &day, const std::string &dayCode, int stores)
    {
        // On average one a day per 2,000 members.
        const qint64 n = m_o.members / 2000 + (m_rare.Below(2000) < m_o.members % 2000 ? 1 : 0);
        for (qint64 k = 0; k < n; ++k) {
            const qint64 card = m_rare.Below(m_o.members);
            const Card &c = m_cards[size_t(card)];
            const int store = int(m_rare.Below(stores));
            const int oper = cashierId(store, 0);
            const std::string when = dateTime(day, int(m_rare.Between(21 * 3600, 22 * 3600 - 1)));
            const std::string no = code("", k + 1, 4);
            const qint64 roll = m_rare.Below(100);
            if (roll < 10 && c.balance > 0)
                movement(card, when, store, Schema::CashOut, "TK" + dayCode + no, 0, c.balance, 0, oper);
            else if (roll < 40 && c.balance > 0)
                movement(card, when, store, Schema::ValueAdjusted, "TZ" + dayCode + no, 0, std::min(c.balance, m_rare.Between(1, 500) * 10), 0, oper);
            else if (roll < 60)
                movement(card, when, store, Schema::ValueAdjusted, "TZ" + dayCode + no, m_rare.Between(1, 500) * 10, 0, 0, oper);
            else if (roll < 75 && c.balance > 0)
                movement(card, when, store, Schema::WrittenOff, "ZX" + dayCode + no, 0, c.balance, 0, oper);
            else if (c.points > 0)
                movement(card, when, store, Schema::PointsExpired, "GQ" + dayCode + no, 0, 0, -std::min(c.points, m_rare.Between(1, 100) * 100), oper);
        }
    }

    // A member's bill: paid partly from stored value, points earned at one per yuan; a return
    // refunds to the card what it paid and takes the points back.
    void memberBill(qint64 card, const std::string &when, int store, const std::string &billNo, qint64 total, int cashier)
    {
        Card &c = m_cards[size_t(card)];
        if (total >= 0) {
            if (c.balance > 0 && m_rnd.Chance(40)) {
                const qint64 pay = std::min(c.balance, total);
                movement(card, when, store, Schema::Payment, billNo, 0, pay, 0, cashier);
                c.paid += pay;
            }
            if (total > 0)
                movement(card, when, store, Schema::PointsEarned, billNo, 0, 0, total, cashier);
        } else {
            // Never more than the card has paid: a bill paid in cash is refunded in cash.
            const qint64 refund = std::min(c.paid, -total);
            if (refund > 0) {
                movement(card, when, store, Schema::Refund, billNo, refund, 0, 0, cashier);
                c.paid -= refund;
            }
            const qint64 back = std::min(c.points, -total);
            if (back > 0)
                movement(card, when, store, Schema::PointsEarned, billNo, 0, 0, -back, cashier);
        }
    }

    const DemoOptions &m_o;
    DemoWriter &m_w;
    const DemoChain::Progress m_progress;
    Random m_rnd;
    Random m_rare;   // the rarer movements: the other movements draw as before
    std::vector<Card> m_cards;
    std::vector<Item> m_items;
    int m_tMove = 0;
    qint64 m_moveId = 0;
};

void checkOptions(const DemoOptions &o)
{
    if (o.branches < 1 || o.members < 1 || o.items < 1 || o.days < 1 || o.linesPerDay < 1)
        throw VelError(QStringLiteral("门店数、会员数、商品数、天数和每天销售行数都必须大于 0"));
    if (o.branches > DemoOptions::MaxBranches)
        throw VelError(QStringLiteral("门店数最多 %1").arg(DemoOptions::MaxBranches));
    if (o.members > DemoOptions::MaxMembers || o.items > DemoOptions::MaxItems || o.days > DemoOptions::MaxDays
        || o.linesPerDay > DemoOptions::MaxLinesPerDay || qint64(o.days) * o.linesPerDay > DemoOptions::MaxLines)
        throw VelError(QStringLiteral("演示数据规模超出范围：会员数最多 %1，商品数最多 %2，天数最多 %3，每天销售行数最多 %4，"
                                      "销售行总数最多 %5")
                           .arg(DemoOptions::MaxMembers).arg(DemoOptions::MaxItems).arg(DemoOptions::MaxDays)
                           .arg(DemoOptions::MaxLinesPerDay).arg(DemoOptions::MaxLines));
    if (o.connectionText.isEmpty() && o.outPath.isEmpty())
        throw VelError(QStringLiteral("没有指定输出文件"));
    if (o.partitioned && (o.connectionText.isEmpty() || ConnectionText::Parse(o.connectionText).Driver() != ConnectionText::Engine::PostgreSQL))
        throw VelError(QStringLiteral("按月分区只适用于 PostgreSQL 数据库"));
}

} // namespace

void DemoOptions::ScaleTo(qint32 stores)
{
    const DemoOptions base;
    const auto scaled = [&](qint32 n, qint32 max) {
        return qint32(std::clamp<qint64>(qint64(n) * stores / base.branches, 1, max));
    };
    members = scaled(base.members, MaxMembers);
    items = scaled(base.items, MaxItems);
    linesPerDay = scaled(base.linesPerDay, MaxLinesPerDay);
    branches = stores;
}

void DemoChain::Generate(const DemoOptions &options, const Progress &progress)
{
    try {
        generate(options, progress);
    } catch (const VelError &) {
        // A writer's statement stopped by Ctrl+C fails in the engine's words.
        if (Database::Stopping())
            throw Vel::Cancelled();
        throw;
    }
}

void DemoChain::generate(const DemoOptions &options, const Progress &progress)
{
    checkOptions(options);
    if (!options.connectionText.isEmpty()) {
        const ConnectionText text = ConnectionText::Parse(options.connectionText);
        text.Validate();
        if (text.Driver() == ConnectionText::Engine::PostgreSQL) {
            std::optional<Schema::MonthlyPartitions> months;
            if (options.partitioned)
                months = Schema::MonthlyPartitions{options.firstDay, options.firstDay.addDays(options.days - 1)};
            auto writer = DemoWriter::ForConnection(options.connectionText, months);
            Generator(options, *writer, progress).Run();
            return;
        }
        DemoOptions sqlite = options;
        sqlite.connectionText.clear();
        sqlite.outPath = text.Database();
        generate(sqlite, progress);
        return;
    }

    // Written beside the target and renamed when complete, so a reader never sees half a chain;
    // the target is written the way every output is (a device node or FIFO is never replaced).
    const QFileInfo target(options.outPath);
    if (!target.absoluteDir().exists() && !QDir().mkpath(target.absolutePath()))
        throw VelError(QStringLiteral("无法创建目录 %1").arg(target.absolutePath()));
    AtomicFile file(options.outPath, AtomicFile::Temp::Named);   // SQLite makes its journal beside it
    {
        auto writer = DemoWriter::ForSqliteFile(file.TemporaryPath());
        Generator(options, *writer, progress).Run();
    }
    file.Commit();
}

QString DemoChain::DefaultDatabasePath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(QStringLiteral("demo-chain.sqlite"));
}

QString DemoChain::SqliteConnectionText(const QString &path)
{
    return ConnectionText::Make({{QStringLiteral("Driver"), QStringLiteral("SQLite")}, {QStringLiteral("Database"), path}});
}

DemoOptions DemoChain::DefaultOptions(QDate today)
{
    DemoOptions options;
    options.days = int(std::clamp<qint64>(options.firstDay.daysTo(today), options.days, DemoOptions::MaxDays));
    return options;
}

QString DemoChain::EnsureDefaultDatabase(const Progress &progress)
{
    const QString path = DefaultDatabasePath();
    const QFileInfo file(path);
    if (!file.exists() || file.lastModified().date() < QDate::currentDate()) {
        DemoOptions options = DefaultOptions();
        options.outPath = path;
        Generate(options, progress);
    }
    return SqliteConnectionText(path);
}
