// Fills and reads 1M rows x 20 fields shaped like the member sales lines report; prints the
// bytes per cell and the fill and read rates.
#include "Recordset.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

int main()
{
    constexpr qint64 rows = 1000000;
    using T = Recordset::FieldType;
    const T types[20] = {T::Text, T::Text, T::Text, T::Text, T::Text, T::Text, T::Text, T::Text, T::Text, T::Text,
                         T::Double, T::Double, T::Double, T::Double, T::Double, T::Double, T::Text, T::Text, T::Text, T::Text};
    RecordsetPtr rs = Recordset::Create();
    for (int f = 0; f < 20; ++f)
        rs->AddField(QStringLiteral("F%1").arg(f), types[f]);
    rs->Open();

    // Values with the repetition of real lines: members, bills and items recur.
    QStringList members, names, items, itemNames;
    for (int i = 0; i < 5000; ++i) {
        members << QStringLiteral("8%1").arg(i, 7, 10, QChar(u'0'));
        names << QStringLiteral("王秀英%1").arg(i % 97);
    }
    for (int i = 0; i < 3000; ++i) {
        items << QStringLiteral("1%1").arg(i, 5, 10, QChar(u'0'));
        itemNames << QStringLiteral("精选家庭装大米%1").arg(i);
    }
    QElapsedTimer timer;
    timer.start();
    for (qint64 r = 0; r < rows; ++r) {
        const qint64 row = rs->AddRow();
        const qint64 bill = r / 3;
        const int m = int((bill * 7919) % 5000), it = int((r * 104729) % 3000);
        rs->SetText(row, 0, members[m]);
        rs->SetText(row, 1, names[m]);
        rs->SetText(row, 2, QStringLiteral("2024-05-%1 10:%2:00").arg(1 + bill / 10000 % 28, 2, 10, QChar(u'0')).arg(bill % 60, 2, 10, QChar(u'0')));
        rs->SetText(row, 3, QStringLiteral("XS20240501%1").arg(bill, 6, 10, QChar(u'0')));
        rs->SetText(row, 4, items[it]);
        rs->SetText(row, 5, itemNames[it]);
        rs->SetText(row, 6, QStringLiteral("500g"));
        rs->SetText(row, 7, QStringLiteral("69%1").arg(it, 11, 10, QChar(u'0')));
        rs->SetText(row, 8, QStringView());
        rs->SetText(row, 9, QStringLiteral("袋"));
        for (int f = 10; f < 16; ++f)
            rs->SetDouble(row, f, double(r % 1000) / 100.0);
        rs->SetText(row, 16, QStringLiteral("销售"));
        rs->SetText(row, 17, QStringLiteral("会员价"));
        rs->SetText(row, 18, QStringLiteral("李娜"));
        rs->SetText(row, 19, QStringLiteral("P0101"));
    }
    const double fillSec = double(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    qint64 chars = 0;
    double sum = 0;
    for (qint64 r = 0; r < rows; ++r) {
        for (int f = 0; f < 20; ++f) {
            if (types[f] == T::Text)
                chars += rs->TextAt(r, f).size();
            else
                sum += rs->DoubleAt(r, f);
        }
    }
    const double readSec = double(timer.nsecsElapsed()) / 1e9;
    const double cells = double(rows) * 20;
    std::printf("recordset: %lld rows x 20 fields, %.1f bytes/cell, fill %.2f M cells/s, read %.2f M cells/s (check %lld %.0f)\n",
                rows, double(rs->MemoryBytes()) / cells, cells / fillSec / 1e6, cells / readSec / 1e6, chars, sum);
    return 0;
}
