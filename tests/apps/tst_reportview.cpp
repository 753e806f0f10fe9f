#include "FindBar.h"
#include "FrozenTableView.h"
#include "GroupHeaderView.h"
#include "ReportFixture.h"
#include "ReportTableModel.h"
#include "ReportGrid.h"
#include "ReportPrinter.h"
#include "ReportView.h"
#include "ReportWriters.h"
#include "VelError.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(ReportOutput)

namespace {

const QString kLongCard = QStringLiteral("V0007-附属卡-000000000000");

// An empty record set with the fields of `rs`.
RecordsetPtr emptyLike(const RecordsetPtr &rs)
{
    auto empty = Recordset::Create();
    for (const QString &name : rs->FieldNames())
        empty->AddField(name, rs->FieldTypeOf(rs->FieldIndex(name)));
    empty->Open();
    return empty;
}

// The ledger fixture with many detail rows before its summary rows.
ReportOutput tallLedger(int details, bool sortable)
{
    ReportOutput r = Fixture::SmallLedger();
    auto rs = emptyLike(r.rs);
    for (int i = 0; i < details; ++i) {
        const qint64 row = rs->AddRow();
        rs->SetText(row, 1, i == 7 ? kLongCard : QStringLiteral("V%1").arg(details - i, 4, 10, QLatin1Char('0')));
        rs->SetDouble(row, 3, (i * 37) % 101);
        rs->SetInt(row, 9, 0);
    }
    for (int kind : {1, 2}) {
        const qint64 row = rs->AddRow();
        rs->SetText(row, 1, kind == 1 ? QStringLiteral("小计") : QStringLiteral("合计"));
        rs->SetDouble(row, 3, 0);
        rs->SetInt(row, 9, kind);
    }
    r.rs = rs;
    r.property->SetValue("EnableSort", sortable);
    return r;
}

// Groups of the given numbers of lines, each closed by its subtotal, then the grand total.
ReportOutput groupedLedger(const QList<int> &groups)
{
    ReportOutput r = Fixture::SmallLedger();
    auto rs = emptyLike(r.rs);
    auto add = [&rs](const QString &card, int kind) {
        const qint64 row = rs->AddRow();
        rs->SetText(row, 1, card);
        rs->SetInt(row, 9, kind);
    };
    for (qsizetype g = 0; g < groups.size(); ++g) {
        for (int i = 0; i < groups[g]; ++i)
            add(QStringLiteral("V%1-%2").arg(g).arg(i), 0);
        add(QStringLiteral("小计"), 1);
    }
    add(QStringLiteral("合计"), 2);
    r.rs = rs;
    return r;
}

// A report of many amount columns in groups of two, small detail values and large totals
// at the end, so that widths taken from the first rows alone would cut the totals.
ReportOutput wideReport(int groups, int details)
{
    ReportOutput r = Fixture::SmallLedger();
    r.header = Vector::Create();
    r.header->Add(Fixture::Column("会员卡号$", "", "1", "FCardId"));
    auto rs = Recordset::Create();
    rs->AddField("FCardId", Recordset::FieldType::Text);
    for (int g = 0; g < groups; ++g) {
        r.header->Add(Fixture::Column(QStringLiteral("人民路店%1+|").arg(g), "储值金额", "6", QStringLiteral("FA%1").arg(g)));
        r.header->Add(Fixture::Column("", "积分", "2", QStringLiteral("FB%1").arg(g)));
        rs->AddField(QStringLiteral("FA%1").arg(g), Recordset::FieldType::Double);
        rs->AddField(QStringLiteral("FB%1").arg(g), Recordset::FieldType::Double);
    }
    rs->AddField("FRowKind", Recordset::FieldType::Integer);
    rs->Open();
    const int kindField = rs->FieldCount() - 1;
    for (int i = 0; i < details + 2; ++i) {
        const qint64 row = rs->AddRow();
        const int kind = i < details ? 0 : i - details + 1;
        rs->SetText(row, 0, kind == 0 ? QStringLiteral("黄%1").arg(i) : kind == 1 ? "小计" : "合计");
        for (int f = 1; f < kindField; ++f)
            rs->SetDouble(row, f, kind == 0 ? (i * 7 + f) % 50 : kind == 1 ? 1522682.88 + f : 2054366.70 + f);
        rs->SetInt(row, kindField, kind);
    }
    r.rs = rs;
    return r;
}

QString pdfText(const QString &path, bool layout)
{
    QProcess p;
    p.start("pdftotext", layout ? QStringList{"-layout", path, "-"} : QStringList{path, "-"});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Characters other than white space, sorted, each as often as it occurs.
QString inkOf(const QString &text)
{
    QList<char32_t> chars;
    for (const char32_t c : text.toUcs4())
        if (!QChar::isSpace(c) && c != 0x0C)
            chars << c;
    std::sort(chars.begin(), chars.end());
    return QString::fromUcs4(chars.constData(), chars.size());
}

QString distinctOf(const QString &text)
{
    QList<uint> chars = inkOf(text).toUcs4();
    chars.erase(std::unique(chars.begin(), chars.end()), chars.end());
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(chars.constData()), chars.size());
}

QStringList columnTexts(const QAbstractItemModel &m, int column)
{
    QStringList texts;
    for (int r = 0; r < m.rowCount(); ++r)
        texts << m.index(r, column).data().toString();
    return texts;
}

} // namespace

class tst_ReportView : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    void modelFormatsAndMarksSummaryRows()
    {
        ReportTableModel model;
        model.SetReport(Fixture::SmallLedger());
        QCOMPARE(model.columnCount(), 9);   // hidden columns stay in the model
        QCOMPARE(model.index(0, 0).data().toString(), "2024-05-01");
        QCOMPARE(model.index(0, 3).data().toString(), "1,234.50");
        QVERIFY(model.index(0, 3).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
        QCOMPARE(model.index(0, 3).data(Qt::FontRole).isValid(), false);
        QCOMPARE(model.index(3, 3).data(Qt::FontRole).value<QFont>().bold(), true);
        QVERIFY(model.index(2, 0).data(Qt::BackgroundRole).isValid());
        QCOMPARE(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "期初-储值卡金额");
    }

    void sortKeepsSummaryRowsInPlace_data()
    {
        QTest::addColumn<bool>("sortable");
        QTest::addColumn<int>("order");
        QTest::newRow("ascending") << true << int(Qt::AscendingOrder);
        QTest::newRow("descending") << true << int(Qt::DescendingOrder);
        QTest::newRow("sorting_not_enabled") << false << int(Qt::AscendingOrder);
    }

    void sortKeepsSummaryRowsInPlace()
    {
        QFETCH(bool, sortable);
        QFETCH(int, order);
        ReportTableModel model;
        model.SetReport(tallLedger(50, sortable));
        const QStringList before = columnTexts(model, 1);
        model.sort(3, Qt::SortOrder(order));
        const QStringList cards = columnTexts(model, 1);
        QCOMPARE(cards.mid(50), QStringList({"小计", "合计"}));
        if (!sortable) {
            QCOMPARE(cards, before);
            return;
        }
        for (int r = 1; r < 50; ++r) {
            const double a = model.index(r - 1, 3).data(ReportTableModel::RawValueRole).toDouble();
            const double b = model.index(r, 3).data(ReportTableModel::RawValueRole).toDouble();
            QVERIFY2(order == Qt::AscendingOrder ? a <= b : a >= b, qPrintable(QString::number(r)));
        }
        // Exports follow the order shown.
        ReportOutput shown = model.Report();
        const QList<QByteArray> lines = Present::WriteCsv(shown).split('\n');
        QCOMPARE(QString::fromUtf8(lines.at(1)).section(',', 1, 1), cards.first());
    }

    // Frozen header over frozen body, both in step with the scrolling part (selection and vertical
    // scrolling shared), whatever the user did (a frozen column widened or hidden, the frozen view
    // follows); frozen columns keep the widths sized from their contents.
    void frozenHeaderStaysOverItsColumns_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("scrolled_right") << "scroll";
        QTest::newRow("frozen_column_widened_then_scrolled") << "resize";
        QTest::newRow("frozen_column_hidden_then_scrolled") << "hide";
        QTest::newRow("sorted_then_scrolled") << "sort";
    }

    void frozenHeaderStaysOverItsColumns()
    {
        QFETCH(QString, action);
        ReportView view;
        view.resize(520, 320);
        view.SetReport(tallLedger(300, true));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        FrozenTableView *table = view.Table();
        QTableView *frozen = table->FrozenView();
        GroupHeaderView *frozenHeader = table->FrozenGroupHeader();
        QCOMPARE(table->FrozenColumnCount(), 2);
        QCOMPARE(frozen->selectionModel(), table->selectionModel());
        QVERIFY(table->columnWidth(1) > table->fontMetrics().horizontalAdvance(kLongCard));
        if (action == "resize")
            table->setColumnWidth(1, table->columnWidth(1) + 35);
        else if (action == "hide")
            table->SetColumnShown(0, false);
        else if (action == "sort")
            QTest::mouseClick(table->GroupHeader()->viewport(), Qt::LeftButton, {},
                              QPoint(table->columnViewportPosition(3) + 5, 5));
        QScrollBar *bar = table->horizontalScrollBar();
        QVERIFY(bar->maximum() > 0);
        for (int step = 0; step < 4; ++step) {
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            QApplication::processEvents();
        }
        QVERIFY(bar->value() > 0);

        // The frozen header sits where the main header is, as tall, over the frozen body.
        QVERIFY(frozenHeader->isVisible());
        QCOMPARE(frozenHeader->height(), table->GroupHeader()->height());
        QCOMPARE(frozenHeader->mapTo(table, QPoint()).y(), table->GroupHeader()->mapTo(table, QPoint()).y());
        // What the user sees at the frozen captions is the frozen header, not the scrolled one.
        for (int y : {2, frozenHeader->height() - 3}) {
            QWidget *seen = table->childAt(frozenHeader->mapTo(table, QPoint(frozenHeader->width() - 3, y)));
            QVERIFY(seen == frozenHeader || seen == frozenHeader->viewport());
        }
        QCOMPARE(frozen->horizontalScrollBar()->value(), 0);
        int frozenWidth = 0;
        for (int c = 0; c < 2; ++c) {
            QCOMPARE(frozen->isColumnHidden(c), table->isColumnHidden(c));
            if (table->isColumnHidden(c))
                continue;
            QCOMPARE(frozenHeader->sectionViewportPosition(c), frozen->columnViewportPosition(c));
            QCOMPARE(frozenHeader->sectionSize(c), table->columnWidth(c));
            QCOMPARE(frozen->columnWidth(c), table->columnWidth(c));
            frozenWidth += table->columnWidth(c);
        }
        QCOMPARE(frozen->width(), frozenWidth);
        QVERIFY(frozen->isVisible() && frozen->isColumnHidden(2));
        table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum() / 2);
        QVERIFY(table->verticalScrollBar()->value() > 0);
        QCOMPARE(frozen->verticalScrollBar()->value(), table->verticalScrollBar()->value());
        table->selectRow(120);
        QVERIFY(frozen->selectionModel()->isRowSelected(120, {}));
        // The scrolling header moves with the scrolling body, and no column is cut by the frozen edge.
        QCOMPARE(table->GroupHeader()->offset(), bar->value());
        for (int c = 2; c < table->model()->columnCount(); ++c) {
            if (table->isColumnHidden(c))
                continue;
            const int x = table->columnViewportPosition(c);
            QCOMPARE(table->GroupHeader()->sectionViewportPosition(c), x);
            if (x + table->columnWidth(c) > frozenWidth)
                QVERIFY2(x >= frozenWidth, qPrintable(QString("column %1 at %2 under frozen edge %3").arg(c).arg(x).arg(frozenWidth)));
        }
        if (action == "sort")
            QCOMPARE(frozenHeader->sortIndicatorSection(), 3);
    }

    // Totals far below the sampled rows and numbers met only when scrolled to are shown whole.
    void numbersAreNeverCut_data()
    {
        QTest::addColumn<double>("detail");
        QTest::addColumn<double>("total");
        QTest::newRow("grand_total_below_sample") << 1234567.25 << 2054366.70;
        QTest::newRow("wide_detail_met_when_scrolled_to") << 98765432.10 << 1522682.88;
    }

    void numbersAreNeverCut()
    {
        QFETCH(double, detail);
        QFETCH(double, total);
        // The total far below the rows sized from, and one detail amount there too.
        ReportOutput r = tallLedger(400, false);
        r.rs->SetDouble(350, 3, detail);
        r.rs->SetDouble(r.rs->RecordCount() - 1, 3, total);
        r.rs->SetDouble(r.rs->RecordCount() - 1, 4, total / 3);
        ReportView view;
        view.resize(900, 400);
        view.SetReport(r);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTableView *table = view.Table();
        const int last = table->model()->rowCount() - 1;
        table->scrollTo(table->model()->index(350, 3));
        QApplication::processEvents();
        table->scrollToBottom();
        QApplication::processEvents();
        QFont bold = table->font();
        bold.setBold(true);
        const QFontMetrics fm(bold);
        for (const auto &[row, column] : {std::pair{last, 3}, std::pair{last, 4}, std::pair{350, 3}}) {
            const QString text = table->model()->index(row, column).data().toString();
            QVERIFY(text.contains(','));
            QTRY_VERIFY2(table->columnWidth(column) > fm.horizontalAdvance(text) + 4,
                         qPrintable(QString("%1 in %2 px").arg(text).arg(table->columnWidth(column))));
        }
    }

    // Ctrl+C copies the selected rows under the header as tab-separated text; hidden columns are
    // neither copied nor exported until shown again from the header's menu, which leaves the
    // report the host received as it was.
    void copyAndExportFollowTheShownColumns()
    {
        ReportView view;
        view.SetReport(Fixture::SmallLedger());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        FrozenTableView *table = view.Table();
        table->setFocus();
        table->selectRow(0);
        table->selectionModel()->select(table->model()->index(3, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        const QStringList lines = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        // Hidden columns are not copied; numbers have no thousands separators.
        QCOMPARE(lines.at(0), "日期\t会员卡号\t会员姓名\t期初-储值卡金额\t期初-积分数额\t数量\t单价\t备注");
        QCOMPARE(lines.at(1).split('\t').mid(0, 4), QStringList({"2024-05-01", "V0001", "张三", "1234.50"}));
        QCOMPARE(lines.at(2).split('\t').at(1), "合计");
        QVERIFY(view.Table()->isColumnHidden(8));
        QVERIFY(!Present::WriteCsv(view.ShownReport()).contains("会员手机号"));
        bool toggled = false;
        QTimer::singleShot(50, this, [&toggled] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction *a : menu->actions())
                if (a->text() == "会员手机号" && !a->isChecked()) {
                    a->trigger();
                    toggled = true;
                }
            menu->close();
        });
        emit view.Table()->GroupHeader()->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(toggled);
        QVERIFY(!view.Table()->isColumnHidden(8));
        const QByteArray csv = Present::WriteCsv(view.ShownReport());
        QVERIFY(csv.startsWith("日期,会员卡号"));
        QVERIFY(csv.contains("会员手机号"));
        QVERIFY(csv.contains("13800000000"));
        QCOMPARE(view.Model()->Report().header->DictionaryAt(8)->Value("FVisible").toInt(), 0);
    }

    void resultWithoutDetailRowsSaysSo()
    {
        ReportView view;
        view.SetReport(groupedLedger({0, 0}));   // subtotals only: a summary-only run has data
        QVERIFY(!view.IsEmptyResult());
        view.SetReport(groupedLedger({}));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(view.IsEmptyResult());
        QVERIFY(!view.Table()->isVisible());
        bool notice = false;
        for (QLabel *label : view.findChildren<QLabel *>())
            notice |= label->isVisible() && label->text() == "没有符合条件的数据";
        QVERIFY(notice);
        view.SetReport(Fixture::SmallLedger());
        QVERIFY(!view.IsEmptyResult());
        QVERIFY(view.Table()->isVisible());
    }

    // Typing searches as it goes; Enter and Shift+Enter move through the matches, wrapping.
    void findMovesThroughShownText()
    {
        ReportView view;
        view.resize(700, 400);
        ReportOutput r = tallLedger(60, false);
        r.rs->SetText(5, 8, QStringLiteral("13800000000"));
        view.SetReport(r);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        FindBar *find = view.Find();
        find->Open();
        QVERIFY(find->isVisible());
        QTest::keyClicks(find->Edit(), "V00");
        QCOMPARE(view.Table()->currentIndex().row(), 0);
        QCOMPARE(view.Table()->currentIndex().column(), 1);
        QTest::keyClick(find->Edit(), Qt::Key_Backspace);
        QTest::keyClicks(find->Edit(), "05");   // cards V0059 down to V0050 on rows 1 to 10
        QCOMPARE(view.Table()->currentIndex().data().toString(), "V0059");
        QTest::keyClick(find->Edit(), Qt::Key_Return);
        QCOMPARE(view.Table()->currentIndex().data().toString(), "V0058");
        QTest::keyClick(find->Edit(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClick(find->Edit(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(view.Table()->currentIndex().data().toString(), "V0050");
        // Hidden columns are not searched.
        find->Edit()->setText("13800000000");
        QCOMPARE(find->StatusText(), "未找到");
        QTest::keyClick(find->Edit(), Qt::Key_Escape);
        QVERIFY(!find->isVisible());
    }

    void pdfTextIsTheGrids_data()
    {
        QTest::addColumn<ReportOutput>("report");
        QTest::addColumn<bool>("onePage");
        QTest::newRow("ledger_on_one_page") << Fixture::SmallLedger() << true;
        ReportOutput ledger = tallLedger(1500, false);
        ledger.rs->SetDouble(ledger.rs->RecordCount() - 2, 3, 1522682.88);
        ledger.rs->SetDouble(ledger.rs->RecordCount() - 1, 3, 2054366.70);
        QTest::newRow("totals_after_many_narrow_rows") << ledger << false;
        QTest::newRow("wide_report_split_into_bands") << wideReport(14, 30) << false;
        QList<int> groups;   // of 1 to 12 lines, each closed by its subtotal
        for (int g = 0; g < 60; ++g)
            groups << 1 + g % 12;
        QTest::newRow("subtotals_kept_with_their_lines") << groupedLedger(groups) << false;
    }

    // What pdftotext reads is exactly what the grid holds: the same characters (no radicals in
    // place of ideographs), every summary value whole; every page repeats the header and none
    // begins with a summary row.
    void pdfTextIsTheGrids()
    {
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext is not installed");
        QFETCH(ReportOutput, report);
        QFETCH(bool, onePage);
        QTemporaryDir dir;
        const QString path = dir.filePath("report.pdf");
        Present::WritePdf(report, path);
        const int pages = Present::PdfPageCount(report);

        const ReportGrid grid(report, true);
        QString expected = report.TitleBlock().join(QString());
        for (const HeaderCell &cell : grid.Layout().Cells())
            expected += cell.text;
        QStringList totals;
        for (qint64 r = 0; r < grid.RowCount(); ++r) {
            for (int c = 0; c < grid.ColumnCount(); ++c) {
                const QString text = grid.Text(r, c, FormatStyle::Grid);
                expected += text;
                if (grid.KindOf(r) != RowKind::Detail && !text.isEmpty())
                    totals << text;
            }
        }
        for (int p = 1; p <= pages; ++p)
            expected += QStringLiteral("第 %1 页，共 %2 页").arg(p).arg(pages);

        const QString text = pdfText(path, false);
        QCOMPARE(distinctOf(text), distinctOf(expected));
        if (onePage)
            QCOMPARE(inkOf(text), inkOf(expected));
        const QString laidOut = pdfText(path, true);
        const QStringList tokens = laidOut.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        for (const QString &total : totals)
            QVERIFY2(tokens.contains(total), qPrintable(total));
        const QStringList pageTexts = laidOut.split(QChar(0x0C), Qt::SkipEmptyParts);
        QCOMPARE(pageTexts.size(), pages);
        QCOMPARE(pages == 1, onePage);
        static const QRegularExpression row(QStringLiteral("V\\d+|黄\\d+|小计|合计"));
        for (const QString &page : pageTexts) {
            QVERIFY2(page.contains(QStringLiteral("会员卡号")), qPrintable(page.left(200)));
            const QString first = row.match(page).captured();
            QVERIFY2(first.startsWith(u'V') || first.startsWith(u'黄'), qPrintable(page.left(400)));
        }
    }

    void exportsWriteOrLeaveNothing_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("magic");   // empty: cancelled at the second progress call
        for (const char *suffix : {"csv", "xlsx", "pdf"})
            QTest::addRow("%s_cancelled", suffix) << suffix << QByteArray();
        QTest::newRow("csv_without_bom") << "csv" << QByteArray("\xE6\x97\xA5");
        QTest::newRow("xlsx_zip") << "xlsx" << QByteArray("PK");
        QTest::newRow("pdf") << "pdf" << QByteArray("%PDF");
    }

    // The desktop's progress window stops an export through the writers' progress callback; an
    // export that is not stopped writes its file, and an unwritable path is an error.
    void exportsWriteOrLeaveNothing()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, magic);
        ReportView view;
        view.SetReport(tallLedger(magic.isEmpty() ? 5000 : 400, true));
        QTemporaryDir dir;
        const QString path = dir.filePath("report." + suffix);
        int calls = 0;
        const auto progress = [&](qint64, qint64) { return ++calls < 2 || !magic.isEmpty(); };
        const auto exportTo = [&](const QString &to) {
            if (suffix == "csv")
                view.ExportCsv(to, {}, progress);
            else if (suffix == "xlsx")
                view.ExportXlsx(to, progress);
            else
                view.ExportPdf(to, [&](int d, int t) { return progress(d, t); });
        };
        if (magic.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(VelError, exportTo(path));
            QCOMPARE(calls, 2);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        exportTo(path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(magic.size()), magic);
        QVERIFY_THROWS_EXCEPTION(VelError, exportTo("/nonexistent/dir/x." + suffix));
    }
};

QTEST_MAIN(tst_ReportView)
#include "tst_reportview.moc"
