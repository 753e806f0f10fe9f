#include "DemoChain.h"
#include "Dictionary.h"
#include "FrozenTableView.h"
#include "HostFixture.h"
#include "MainWindow.h"
#include "ReportChart.h"
#include "ReportGrid.h"
#include "ReportSession.h"
#include "ReportTableModel.h"
#include "ReportView.h"
#include "ReportWriters.h"
#include "TabTitle.h"
#include "ValueFormat.h"

#include <QAction>
#include <QCategoryAxis>
#include <QChart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

// selectRow: -1 keeps the first card; xTitle: empty: axes not checked; xLabels: empty: not days
struct ChartCase { int rptId; QString setKey; QVariant setValue; int selectRow; bool byValue; QString xTitle = {}; QString xLabels = {}; };

// The chart of each report against the grid it is drawn from, on a small generated chain.
class tst_HostCharts : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_props;

    static QAction *action(MainWindow &window, const char *name)
    {
        return window.findChild<QAction *>(QString::fromLatin1(name));
    }

    static int columnOf(const ReportTableModel &model, const QString &field)
    {
        const QList<ReportColumn> &columns = model.Layout().Columns();
        for (int c = 0; c < columns.size(); ++c)
            if (columns.at(c).field.compare(field, Qt::CaseInsensitive) == 0)
                return c;
        return -1;
    }

    static QString display(const ReportTableModel &model, int row, const QString &field)
    {
        return model.index(row, columnOf(model, field)).data().toString().trimmed();
    }

    static double number(const ReportTableModel &model, int row, const QString &field)
    {
        double value = 0;
        Present::NumericValue(model.index(row, columnOf(model, field)).data(ReportTableModel::RawValueRole), &value);
        return value;
    }

    // The grid's detail rows as (x key, y) pairs: the sums the chart must show, keyed as it
    // keys them, in the order of first appearance.
    static QList<QPair<QString, double>> expected(const ReportTableModel &model, const QString &keyField,
                                                  const QString &valueField, const QString &onlyCard = {})
    {
        QList<QPair<QString, double>> sums;
        for (int r = 0; r < model.rowCount(); ++r) {
            if (model.index(r, 0).data(ReportTableModel::RowKindRole).toInt() != int(RowKind::Detail))
                continue;
            if (!onlyCard.isEmpty()) {
                if (display(model, r, "FCardId") == onlyCard)
                    sums.append({QString::number(sums.size()), number(model, r, valueField)});
                continue;
            }
            const QString key = display(model, r, keyField);
            auto it = std::find_if(sums.begin(), sums.end(), [&](const auto &s) { return s.first == key; });
            if (it == sums.end())
                sums.append({key, number(model, r, valueField)});
            else
                it->second += number(model, r, valueField);
        }
        return sums;
    }

private slots:
    void initTestCase()
    {
        m_props = PrepareHostTest(m_dir, "tst_hostcharts", 40, 30, 20);
    }

    void cleanup()
    {
        QSettings().clear();
        QTRY_COMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    // The toggle shows the chart; its series hold the grid's detail rows summed per bar (in
    // the grid's order or by value), per day, or the selected card's balances row by row.
    // Day axes run over the period, from its first day, a label every five days across a
    // month; value labels carry no decimals on whole ticks; bars name what they stand for.
    void chartFollowsGrid_data()
    {
        QTest::addColumn<ChartCase>("chartCase");
        const QString january = "01-01 01-06 01-11 01-16 01-21 01-26 01-31";
        QTest::newRow("sales_per_branch") << ChartCase{10902, "GroupBy", QVariant(1), -1, false};
        QTest::newRow("sales_per_branch_by_value") << ChartCase{10902, "GroupBy", QVariant(1), -1, true};
        QTest::newRow("sales_per_card_type") << ChartCase{10902, "GroupBy", QVariant(2), -1, false};
        QTest::newRow("sales_per_salesperson") << ChartCase{10902, "GroupBy", QVariant(3), -1, false};
        QTest::newRow("sales_of_branch_range") << ChartCase{10902, "EBranchNum", QVariant("002"), -1, false};
        QTest::newRow("points_per_gift") << ChartCase{10904, "GroupBy", QVariant(1), -1, false, "商品名称"};
        QTest::newRow("points_per_gift_by_value") << ChartCase{10904, "GroupBy", QVariant(0), -1, true};
        QTest::newRow("topups_per_day") << ChartCase{10905, "GroupBy", QVariant(1), -1, false, "日期", january};
        QTest::newRow("ledger_first_card") << ChartCase{10901, "", QVariant(), -1, false, "日期", january};
        QTest::newRow("ledger_selected_card") << ChartCase{10901, "", QVariant(), 1, false};
    }
    void chartFollowsGrid()
    {
        QFETCH(ChartCase, chartCase);
        const auto &[rptId, setKey, setValue, selectRow, byValue, xTitle, xLabels] = chartCase;
        ChainWindow window(m_props);
        DictionaryPtr filter = ReportSession::SampleFilter(rptId);
        if (!setKey.isEmpty())
            filter->SetValue(setKey, setValue);
        ReportView *view = window.OpenReport(rptId, filter);
        QVERIFY(view);
        QVERIFY2(view->ErrorText().isEmpty(), qPrintable(view->ErrorText()));
        QAction *toggle = action(window, "chartToggle");
        QVERIFY(toggle->isEnabled());
        QVERIFY(!view->Chart()->isVisible());
        toggle->trigger();
        QVERIFY(view->Chart()->isVisible());
        const ReportTableModel &model = *view->Model();

        QString card;
        if (rptId == 10901) {
            // The n-th card of the grid, selected by a click on its first detail row.
            int row = 0;
            QStringList cards;
            for (; row < model.rowCount(); ++row) {
                const QString c = display(model, row, "FCardId");
                if (!cards.contains(c) && model.index(row, 0).data(ReportTableModel::RowKindRole).toInt() == 0)
                    cards << c;
                if (cards.size() > qMax(0, selectRow))
                    break;
            }
            QVERIFY(row < model.rowCount());
            card = cards.last();
            if (selectRow >= 0) {
                const QModelIndex index = model.index(row, columnOf(model, "FCardId"));
                static_cast<QTableView *>(view->Table())->scrollTo(index);
                QTest::mouseClick(view->Table()->viewport(), Qt::LeftButton, {}, view->Table()->visualRect(index).center());
            }
            QVERIFY(view->Chart()->Chart()->title().contains(card));
        }

        view->Chart()->SetBarsByValue(byValue);
        const ReportChart::Data &drawn = view->Chart()->Drawn();
        // The portal draws what the page's head describes: the same title and series names.
        QByteArray page;
        Present::ByteSink sink([&page](const char *data, size_t size) { page.append(data, qsizetype(size)); });
        Present::WriteWhole(*Present::PageRows(sink), view->ShownReport());
        const QJsonObject described = QJsonDocument::fromJson(page.left(page.indexOf('\n'))).object()
                                          .value("head").toObject().value("chart").toObject();
        QCOMPARE(described.value("title").toString().replace("%1", card), view->Chart()->Chart()->title());
        QStringList names;
        for (const QJsonValue &name : described.value("names").toArray())
            names << name.toString();
        QCOMPARE(names, drawn.names);
        QCOMPARE(view->Chart()->Chart()->series().size(), drawn.series.size());
        if (rptId == 10902 || rptId == 10904) {
            auto want = expected(model, rptId == 10902 ? "FNo" : "FNumber", rptId == 10902 ? "FpayAmount" : "FVipNum");
            if (byValue)
                std::stable_sort(want.begin(), want.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
            QCOMPARE(drawn.series.size(), 1);
            QCOMPARE(drawn.series.first().size(), want.size());
            QCOMPARE(drawn.categories.size(), want.size());
            for (int i = 0; i < want.size(); ++i) {
                QCOMPARE(drawn.series.first().at(i).y(), want.at(i).second);
                if (rptId == 10902)
                    QCOMPARE(drawn.categories.at(i), want.at(i).first.isEmpty() ? QStringLiteral("（无）") : want.at(i).first);
            }
        } else if (rptId == 10905) {
            QMap<qint64, double> perDay;
            for (const auto &[key, value] : expected(model, "FOperDate", "FPlusAmt"))
                perDay[TabTitle::DateOf(key).startOfDay().toMSecsSinceEpoch()] += value;
            QCOMPARE(drawn.series.size(), 1);
            QCOMPARE(drawn.series.first().size(), perDay.size());
            int i = 0;
            for (auto it = perDay.cbegin(); it != perDay.cend(); ++it, ++i)
                QCOMPARE(drawn.series.first().at(i), QPointF(double(it.key()), it.value()));
        } else {
            QCOMPARE(drawn.series.size(), 2);
            const QStringList fields{"FResidualCardAmount", "FResidualVipNum"};
            for (int s = 0; s < 2; ++s) {
                const auto want = expected(model, {}, fields.at(s), card);
                QCOMPARE(drawn.series.at(s).size(), want.size());
                for (int i = 0; i < want.size(); ++i)
                    QCOMPARE(drawn.series.at(s).at(i).y(), want.at(i).second);
            }
        }
        if (xTitle.isEmpty())
            return;
        QChart *chart = view->Chart()->Chart();
        const auto x = qobject_cast<QCategoryAxis *>(chart->axes(Qt::Horizontal).value(0));
        QVERIFY(x);
        QCOMPARE(x->titleText(), xTitle);
        QVERIFY(x->isTitleVisible());
        if (!xLabels.isEmpty()) {
            QCOMPARE(x->categoriesLabels().join(' '), xLabels);
            QCOMPARE(x->min(), x->endValue(x->categoriesLabels().first()));
            QCOMPARE(x->max(), x->endValue(x->categoriesLabels().last()));
        }
        const QList<QAbstractAxis *> values = chart->axes(Qt::Vertical);
        QVERIFY(!values.isEmpty());
        for (QAbstractAxis *axis : values) {
            const auto y = qobject_cast<QCategoryAxis *>(axis);
            QVERIFY(y);
            for (const QString &label : y->categoriesLabels()) {
                const double value = y->endValue(label);
                QCOMPARE(label.contains('.'), value != std::trunc(value));
            }
        }
    }

    // PNG of the chart; the PDF of a tab with its chart shown has one page more, holding an image.
    void chartExports()
    {
        if (QStandardPaths::findExecutable("pdfinfo").isEmpty() || QStandardPaths::findExecutable("pdfimages").isEmpty())
            QSKIP("poppler-utils are not installed");
        ChainWindow window(m_props, false);
        window.resize(1200, 800);
        window.show();
        ReportView *view = window.OpenReport(10905, ReportSession::SampleFilter(10905));
        QVERIFY(view);
        const QString plain = m_dir.filePath("plain.pdf"), charted = m_dir.filePath("chart.pdf"), png = m_dir.filePath("chart.png");
        view->ExportPdf(plain);
        action(window, "chartToggle")->trigger();
        QVERIFY(action(window, "chartPng")->isEnabled());
        view->Chart()->SavePng(png);
        const QImage image(png);
        QVERIFY(!image.isNull());
        QVERIFY(image.width() > 400 && image.height() > 200);
        // The same picture as on screen, drawn larger: scaled down, it differs from the
        // screen's only by antialiasing.
        const QImage screen = view->Chart()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage small = image.scaled(screen.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_RGB32);
        qint64 difference = 0;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x)
                difference += qAbs(qGray(screen.pixel(x, y)) - qGray(small.pixel(x, y)));
        QVERIFY2(difference < qint64(screen.width()) * screen.height() * 5,
                 qPrintable(QString::number(double(difference) / (screen.width() * screen.height()))));
        view->ExportPdf(charted);

        auto run = [](const QString &program, const QStringList &args) {
            QProcess p;
            p.start(program, args);
            p.waitForFinished(60000);
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        auto pages = [&](const QString &path) {
            const QRegularExpressionMatch m = QRegularExpression("Pages:\\s+(\\d+)").match(run("pdfinfo", {path}));
            return m.hasMatch() ? m.captured(1).toInt() : -1;
        };
        QVERIFY(pages(plain) > 0);
        QCOMPARE(pages(charted), pages(plain) + 1);
        const QStringList images = run("pdfimages", {"-list", charted}).split('\n', Qt::SkipEmptyParts).mid(2);
        QCOMPARE(images.size(), 1);
        QCOMPARE(images.first().simplified().section(' ', 0, 0).toInt(), pages(charted));
    }
};

QTEST_MAIN(tst_HostCharts)
#include "tst_hostcharts.moc"
