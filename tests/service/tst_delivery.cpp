// Timing of scheduled deliveries and the relative periods they are run for.
#include "Cron.h"
#include "FilterDates.h"
#include "VelError.h"
#include "../ErrorOf.h"

#include <QTest>

// after: UTC
// names: names in the zone
// moments: the same slots in UTC
struct SlotCase { QString cron; QString zone; QString after; QStringList names; QStringList moments; };

struct Refused { QString cron; QString zone; QString words; };

struct Relative { QString form; QDate first; QDate last; };

class TestDelivery : public QObject
{
    Q_OBJECT

private slots:
    // The next slots after a moment: wall-clock names in the zone, one per moment, through
    // daylight-saving gaps and repeated hours.
    void nextSlots_data()
    {
        QTest::addColumn<SlotCase>("row");
        QTest::newRow("monthly in Shanghai") << SlotCase{"0 7 1 * *", "Asia/Shanghai", "2024-02-15T00:00:00",
                                            QStringList{"2024-03-01T07:00", "2024-04-01T07:00"},
                                            QStringList{"2024-02-29T23:00:00", "2024-03-31T23:00:00"}};
        QTest::newRow("gap runs after it") << SlotCase{"30 2 * * *", "Europe/Berlin", "2024-03-30T12:00:00",
                                           QStringList{"2024-03-31T03:30", "2024-04-01T02:30"},
                                           QStringList{"2024-03-31T01:30:00", "2024-04-01T00:30:00"}};
        QTest::newRow("repeated hour runs once") << SlotCase{"30 2 * * *", "Europe/Berlin", "2024-10-26T12:00:00",
                                                 QStringList{"2024-10-27T02:30", "2024-10-28T02:30"},
                                                 QStringList{"2024-10-27T00:30:00", "2024-10-28T01:30:00"}};
        QTest::newRow("gap slots merge with later ones") << SlotCase{"*/30 2-3 * * *", "Europe/Berlin", "2024-03-31T00:00:00",
                                                         QStringList{"2024-03-31T03:00", "2024-03-31T03:30", "2024-04-01T02:00"},
                                                         QStringList{"2024-03-31T01:00:00", "2024-03-31T01:30:00", "2024-04-01T00:00:00"}};
        QTest::newRow("day of month or weekday") << SlotCase{"0 9 13 * 5", "UTC", "2024-09-01T00:00:00",
                                                 QStringList{"2024-09-06T09:00", "2024-09-13T09:00", "2024-09-20T09:00"},
                                                 QStringList{"2024-09-06T09:00:00", "2024-09-13T09:00:00", "2024-09-20T09:00:00"}};
        QTest::newRow("weekdays at a list of hours") << SlotCase{"15 8,18 * * 1-5", "Asia/Shanghai", "2024-05-03T11:00:00",
                                                     QStringList{"2024-05-06T08:15", "2024-05-06T18:15"},
                                                     QStringList{"2024-05-06T00:15:00", "2024-05-06T10:15:00"}};
    }
    void nextSlots()
    {
        QFETCH(SlotCase, row);
        const auto &[cron, zone, after, names, moments] = row;
        const Cron timing(cron, zone);
        QDateTime at = QDateTime::fromString(after + u'Z', Qt::ISODate);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const auto slot = timing.Next(at);
            QVERIFY(slot);
            QCOMPARE(timing.SlotName(*slot), names[i]);
            QCOMPARE(slot->toUTC().toString(Qt::ISODate), moments[i] + u'Z');
            at = *slot;
        }
        // The last slot up to a moment, and the slot on a date, name the same run.
        QCOMPARE(timing.SlotName(*timing.Last(at, 86400 * 40)), names.last());
        QCOMPARE(timing.SlotName(*timing.OnDate(QDate::fromString(names.first().left(10), Qt::ISODate))), names.first());
    }

    void refusedTimings_data()
    {
        QTest::addColumn<Refused>("row");
        QTest::newRow("four fields") << Refused{"0 7 1 *", "Asia/Shanghai", "五项"};
        QTest::newRow("minute out of range") << Refused{"60 7 * * *", "Asia/Shanghai", "“分”"};
        QTest::newRow("backwards range") << Refused{"0 9-7 * * *", "Asia/Shanghai", "“时”"};
        QTest::newRow("zero step") << Refused{"*/0 * * * *", "Asia/Shanghai", "“分”"};
        QTest::newRow("unknown zone") << Refused{"0 7 * * *", "Mars/Olympus", "时区"};
    }
    void refusedTimings()
    {
        QFETCH(Refused, row);
        const auto &[cron, zone, words] = row;
        const QString error = ErrorOf([&] { Cron(cron, zone); });
        QVERIFY2(error.contains(words), qPrintable(error));
    }

    // Relative periods counted from a slot's date.
    void relativePeriods_data()
    {
        QTest::addColumn<Relative>("row");
        QTest::newRow("上月 on the 1st") << Relative{"上月", QDate(2024, 2, 1), QDate(2024, 2, 29)};
        QTest::newRow("今天") << Relative{"今天", QDate(2024, 3, 1), QDate(2024, 3, 1)};
        QTest::newRow("本月") << Relative{"本月", QDate(2024, 3, 1), QDate(2024, 3, 31)};
        QTest::newRow("本月至今") << Relative{"本月至今", QDate(2024, 3, 1), QDate(2024, 3, 1)};
        QTest::newRow("昨天 across a month") << Relative{"昨天", QDate(2024, 2, 29), QDate(2024, 2, 29)};
        QTest::newRow("上周 Monday to Sunday") << Relative{"上周", QDate(2024, 2, 19), QDate(2024, 2, 25)};
        QTest::newRow("本年至今") << Relative{"本年至今", QDate(2024, 1, 1), QDate(2024, 3, 1)};
        QTest::newRow("上年") << Relative{"上年", QDate(2023, 1, 1), QDate(2023, 12, 31)};
    }
    void relativePeriods()
    {
        QFETCH(Relative, row);
        const auto &[form, first, last] = row;
        const auto period = FilterDates::ParsePeriod(form, QDate(2024, 3, 1));   // a Friday
        QCOMPARE(std::pair(period.first, period.last), std::pair(first, last));
    }
};

QTEST_GUILESS_MAIN(TestDelivery)
#include "tst_delivery.moc"
