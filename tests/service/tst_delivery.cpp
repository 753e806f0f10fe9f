// Timing of scheduled deliveries and the relative periods they are run for.
#include "Checks.h"
#include "Cron.h"
#include "FilterDates.h"
#include "Mime.h"
#include "Retry.h"
#include "VelError.h"
#include "../ErrorOf.h"

#include <QTemporaryFile>
#include <QTest>

// after: UTC
// names: names in the zone
// moments: the same slots in UTC
struct SlotCase { QString cron; QString zone; QString after; QStringList names; QStringList moments; };

struct Relative { QString form; QDate first; QDate last; };

// check: 0 address, 1 branch, 2 zone, 3 a timing, 4 a timing's zone; words: in the refusal, empty when accepted
struct Entered { int check; QString value; QString words; };

class TestDelivery : public QObject
{
    Q_OBJECT

private slots:
    // The next slots after a moment: wall-clock names in the zone, one per moment, through
    // daylight-saving gaps and repeated hours.
    void nextSlots_data()
    {
        QTest::addColumn<SlotCase>("row");
        QTest::newRow("monthly in Shanghai") << SlotCase{"0 7 1 * *", "Asia/Shanghai", "2024-02-15T00:00:00", {"2024-03-01T07:00", "2024-04-01T07:00"},
            {"2024-02-29T23:00:00", "2024-03-31T23:00:00"}};
        QTest::newRow("gap runs after it") << SlotCase{"30 2 * * *", "Europe/Berlin", "2024-03-30T12:00:00", {"2024-03-31T03:30", "2024-04-01T02:30"},
            {"2024-03-31T01:30:00", "2024-04-01T00:30:00"}};
        QTest::newRow("repeated hour runs once") << SlotCase{"30 2 * * *", "Europe/Berlin", "2024-10-26T12:00:00", {"2024-10-27T02:30", "2024-10-28T02:30"},
            {"2024-10-27T00:30:00", "2024-10-28T01:30:00"}};
        QTest::newRow("gap slots merge with later ones") << SlotCase{"*/30 2-3 * * *", "Europe/Berlin", "2024-03-31T00:00:00", {"2024-03-31T03:00", "2024-03-31T03:30", "2024-04-01T02:00"},
            {"2024-03-31T01:00:00", "2024-03-31T01:30:00", "2024-04-01T00:00:00"}};
        QTest::newRow("day of month or weekday") << SlotCase{"0 9 13 * 5", "UTC", "2024-09-01T00:00:00", {"2024-09-06T09:00", "2024-09-13T09:00", "2024-09-20T09:00"},
            {"2024-09-06T09:00:00", "2024-09-13T09:00:00", "2024-09-20T09:00:00"}};
        QTest::newRow("weekdays at a list of hours") << SlotCase{"15 8,18 * * 1-5", "Asia/Shanghai", "2024-05-03T11:00:00", {"2024-05-06T08:15", "2024-05-06T18:15"},
            {"2024-05-06T00:15:00", "2024-05-06T10:15:00"}};
        // Busy timings: the latest slot up to a moment is found without stepping through a year of them.
        QTest::newRow("every minute") << SlotCase{"* * * * *", "Asia/Shanghai", "2024-05-02T15:59:00", {"2024-05-03T00:00", "2024-05-03T00:01"},
            {"2024-05-02T16:00:00", "2024-05-02T16:01:00"}};
        QTest::newRow("every five minutes across a gap") << SlotCase{"*/5 2-3 * * *", "America/New_York", "2024-03-10T00:00:00", {"2024-03-10T03:00", "2024-03-10T03:05"},
            {"2024-03-10T07:00:00", "2024-03-10T07:05:00"}};
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
        // The last slot up to a moment (looking back up to 400 days), and the slot on a date, name the same run.
        QCOMPARE(timing.SlotName(*timing.Last(at, 86400 * 400)), names.last());
        QCOMPARE(timing.SlotName(*timing.Last(at.addSecs(59), 86400 * 400)), names.last());
        QCOMPARE(timing.SlotName(*timing.OnDate(QDate::fromString(names.first().left(10), Qt::ISODate))), names.first());
    }

    // Six tries: waits of one, two, four, eight and sixteen times the first, then none.
    void retries()
    {
        QList<qint64> waits;
        for (int attempt = 1; const auto wait = RetryWait(attempt, 60, 6); ++attempt)
            waits << *wait;
        QCOMPARE(waits, (QList<qint64>{60, 120, 240, 480, 960}));
    }

    // What reaches a header, an SMTP command or the slot's clock is checked where it enters.
    void enteredValues_data()
    {
        QTest::addColumn<Entered>("row");
        QTest::newRow("plain address") << Entered{0, "m1@b1.test", ""};
        QTest::newRow("address with a Bcc line") << Entered{0, "m1@b1.test\r\nBcc: spy@evil.test", "--email"};
        QTest::newRow("address closing the bracket") << Entered{0, "r@hq.test>\r\nRCPT TO:<spy@evil.test", "--email"};
        QTest::newRow("two addresses") << Entered{0, "a@b.test,c@d.test", "--email"};
        QTest::newRow("branch") << Entered{1, "006", ""};
        QTest::newRow("branch with a Bcc line") << Entered{1, "006\r\nBcc: spy3@evil.test", "--branch"};
        QTest::newRow("branch with a space") << Entered{1, "0 6", "--branch"};
        QTest::newRow("zone") << Entered{2, "Europe/Berlin", ""};
        QTest::newRow("no zone") << Entered{2, "", "--tz"};
        QTest::newRow("offset as a zone") << Entered{2, "UTC+8", "--tz"};
        QTest::newRow("unknown zone of a timing") << Entered{4, "Mars/Olympus", "时区"};
        QTest::newRow("four fields") << Entered{3, "0 7 1 *", "五项"};
        QTest::newRow("minute out of range") << Entered{3, "60 7 * * *", "“分”"};
        QTest::newRow("backwards range") << Entered{3, "0 9-7 * * *", "“时”"};
        QTest::newRow("zero step") << Entered{3, "*/0 * * * *", "“分”"};
        QTest::newRow("30 February") << Entered{3, "0 7 30 2 *", "永远不会"};
        QTest::newRow("31st of short months") << Entered{3, "0 7 31 4,6,9,11 *", "永远不会"};
    }
    void enteredValues()
    {
        QFETCH(Entered, row);
        const QString field = QStringList{"--email", "--branch", "--tz"}.value(row.check);
        const QString error = row.check == 0 ? DeliveryCheck::Address(field, row.value)
            : row.check == 1                 ? DeliveryCheck::Branch(field, row.value)
            : row.check == 2                 ? DeliveryCheck::Zone(field, row.value)
                                             : ErrorOf([&] { Cron(row.check == 3 ? row.value : "0 7 * * *", row.check == 3 ? "UTC" : row.value); });
        QVERIFY2(row.words.isEmpty() ? error.isEmpty() : error.contains(row.words), qPrintable(error));
    }

    // A message read in small pieces carries its file whole; a line break in an address or
    // the message id never reaches the headers.
    void streamedMessage()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        QByteArray data;
        for (int i = 0; i < 200000; ++i)
            data += char(i * 7 % 251);
        file.write(data);
        file.flush();
        MailMessage m{"r@hq.test", "m1@b1.test", "报表", "text", "<p>html</p>", "a.csv", "text/csv", file.fileName(), "id@host"};
        MimeReader reader(m);
        QByteArray out;
        char piece[1000];
        for (qint64 n; (n = reader.Read(piece, sizeof piece)) > 0;)
            out.append(piece, n);
        const qsizetype from = out.indexOf("\r\n\r\n", out.indexOf("filename=")) + 4;
        QCOMPARE(QByteArray::fromBase64(out.mid(from, out.indexOf("--velvip-mixed", from) - from)), data);
        for (auto bad : {&MailMessage::to, &MailMessage::from, &MailMessage::messageId}) {
            MailMessage injected = m;
            injected.*bad += "\r\nBcc: spy@evil.test";
            QVERIFY(!ErrorOf([&] { MimeReader{injected}; }).isEmpty());
        }
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
        QTest::newRow("本季度") << Relative{"本季度", QDate(2024, 1, 1), QDate(2024, 3, 31)};
        QTest::newRow("上季度 across a year") << Relative{"上季度", QDate(2023, 10, 1), QDate(2023, 12, 31)};
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
