#include "ConnectionDialog.h"
#include "ConnectionSettings.h"
#include "DemoChain.h"
#include "Dictionary.h"
#include "DrillDown.h"
#include "FindBar.h"
#include "FrozenTableView.h"
#include "HostFixture.h"
#include "MainWindow.h"
#include "Recordset.h"
#include "ReportSession.h"
#include "ReportTableModel.h"
#include "ReportView.h"
#include "HostKit.h"
#include "Translations.h"

#include <QComboBox>
#include <QDir>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolTip>
#include <QScopeGuard>
#include <QtTest>

#include <functional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

struct Drill { int from; int groupBy; int rowKind; QString keyField; int to; QString detailCardField; };

struct DialogCase { int kind; QString sqliteFile; bool test; QString message; bool accepted; };

// The desktop host on a small generated chain, offscreen.
class tst_Host : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_props;

    // The progress window of a run takes the activation away, and offscreen no window
    // manager gives it back; window shortcuts need the window active.
    static void activate(QWidget &window)
    {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    // Answers every modal dialog that opens while it lives with `answer`, noting their classes.
    struct Answer : QTimer
    {
        QStringList seen;
        explicit Answer(std::function<void(QDialog *)> answer)
        {
            connect(this, &QTimer::timeout, this, [this, answer] {
                if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                    seen << dialog->metaObject()->className();
                    answer(dialog);
                }
            });
            start(20);
        }
    };

    // Clicks the dialog's button labelled `text`, or rejects the dialog when it has none.
    static void click(QDialog *dialog, const QString &text)
    {
        for (QPushButton *b : dialog->findChildren<QPushButton *>())
            if (b->text() == text)
                return b->click();
        dialog->reject();
    }

    static QString tabTitles(QTabWidget *tabs)
    {
        QString titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles += tabs->tabText(i) + "|";
        return titles;
    }

    // Opens the context menu of `widget` at `pos` and triggers the entry whose text starts with `text`.
    void chooseFromMenu(QWidget *widget, const QPoint &pos, const QString &text)
    {
        bool chosen = false;
        QTimer::singleShot(50, this, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction *a : menu->actions())
                if (!chosen && a->text().startsWith(text) && a->isEnabled()) {
                    chosen = true;
                    a->trigger();
                }
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, widget->mapToGlobal(pos));
        QApplication::sendEvent(widget, &event);
        QVERIFY2(chosen, qPrintable(text));
    }

private slots:
    void initTestCase()
    {
        m_props = PrepareHostTest(m_dir, "tst_host", 60, 40, 30);
    }

    void cleanup()
    {
        QSettings().clear();
        QTRY_COMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    // Every report opens in a tab of its own; only the line report sorts, and the line, price and
    // liability reports have no chart. Date-only bounds the host writes cover whole days, in every
    // report alike (member sales shift their end, sale lines compare to the second). A run without
    // rows says so and leaves nothing to export.
    void everyReportOpens()
    {
        ChainWindow window(m_props);
        auto *startHint = window.findChild<QLabel *>("startHint");
        QVERIFY(startHint->isVisible());   // the blank start says how to begin
        for (qint32 id : ReportSession::ReportIds()) {
            ReportView *view = window.OpenReport(id, ReportSession::SampleFilter(id));
            QVERIFY2(view, qPrintable(QString::number(id)));
            QVERIFY2(view->ErrorText().isEmpty(), qPrintable(QString("%1: %2").arg(id).arg(view->ErrorText())));
            QVERIFY2(view->Model()->rowCount() > 0, qPrintable(QString::number(id)));
            // The sample filter covers January 2024 (10909 as at its end, 10911 its quarter); 10906 has no period.
            const QHash<qint32, QString> periods{{10906, ""}, {10909, " 2024-01-31"}, {10911, " 2024-Q1"}};
            QCOMPARE(window.Tabs()->tabText(window.Tabs()->currentIndex()),
                     ReportSession::ReportName(id) + periods.value(id, " 2024-01"));
            QCOMPARE(view->Table()->FrozenColumnCount(), view->Model()->Report().FrozenColumns());
            QCOMPARE(view->Table()->isSortingEnabled(), id == 10903);
            QCOMPARE(window.findChild<QAction *>("chartToggle")->isEnabled(), QList<qint32>({10901, 10902, 10904, 10905}).contains(id));
        }
        QCOMPARE(window.Tabs()->count(), ReportSession::ReportIds().size());
        QVERIFY(!startHint->isVisible());
        for (qint32 rptId : {10902, 10903}) {
            DictionaryPtr filter = ReportSession::SampleFilter(rptId);
            filter->SetValue("BDate", QStringLiteral("2024-01-05"));
            filter->SetValue("EDate", QStringLiteral("2024/1/5"));
            ReportView *view = window.OpenReport(rptId, filter);
            QVERIFY2(view && view->ErrorText().isEmpty(), qPrintable(QString::number(rptId)));
            QCOMPARE(view->Model()->Report().PeriodLine(), QStringLiteral("日期：2024-01-05 00:00:00 至 2024-01-05 23:59:59"));
            QVERIFY(view->Model()->rowCount() > 1);
        }
        DictionaryPtr filter = ReportSession::SampleFilter(10903);
        filter->SetValue("BDate", "2031-01-01 00:00:00");
        filter->SetValue("EDate", "2031-01-31 23:59:59");
        ReportView *empty = window.OpenReport(10903, filter);
        QVERIFY2(empty->ErrorText().isEmpty(), qPrintable(empty->ErrorText()));
        QVERIFY(empty->IsEmptyResult());
        QVERIFY(window.StatusText().startsWith("明细 0 行"));
        for (QAction *a : window.findChildren<QAction *>())
            if (a->text().startsWith("导出"))
                QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        window.close();
    }

    // A failed run shows its error; 刷新 after fixing the connection runs on the new one, in the same tab.
    void refreshUsesTheCurrentConnection()
    {
        ChainWindow window("Driver=SQLite;Database=" + m_dir.filePath("missing.sqlite"));
        QVERIFY(QTest::qWaitForWindowActive(&window));
        ReportView *view = window.OpenReport(10902, ReportSession::SampleFilter(10902));
        QVERIFY(view->ErrorText().startsWith("错误："));
        QVERIFY(view->ErrorText().contains("missing.sqlite"));
        QCOMPARE(view->Model()->rowCount(), 0);
        window.OverrideConnection(m_props);
        activate(window);
        QTest::keyClick(&window, Qt::Key_F5);
        QCOMPARE(window.Tabs()->count(), 1);
        QVERIFY2(view->ErrorText().isEmpty(), qPrintable(view->ErrorText()));
        QVERIFY(view->Model()->DetailRowCount() > 0);
        QCOMPARE(window.StatusText().section("    ", 0, 0),
                 QString("明细 %1 行").arg(view->Model()->DetailRowCount()));
        QVERIFY(window.StatusText().contains("用时"));
        QVERIFY(window.StatusText().contains("small.sqlite"));
    }

    // The report list runs on Enter through the report's filter dialog (cancelled: no tab);
    // Ctrl+Tab, Ctrl+F and Ctrl+W act on the tabs, Ctrl+P and Ctrl+E open their dialogs.
    void keyboardDrivesTheWindow()
    {
        ChainWindow window(m_props);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *list = window.findChild<QListWidget *>();
        list->setFocus();
        list->setCurrentRow(5);
        {
            Answer cancel([](QDialog *d) { d->reject(); });
            QTest::keyClick(list, Qt::Key_Return);
            QCOMPARE(cancel.seen.size(), 1);
            QCOMPARE(window.Tabs()->count(), 0);
        }
        Answer answer([](QDialog *d) { click(d, QStringLiteral("确定")); });
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(window.Tabs()->count(), 1);
        QVERIFY2(window.CurrentView()->ErrorText().isEmpty(), qPrintable(window.CurrentView()->ErrorText()));
        QVERIFY(window.Tabs()->tabText(0).startsWith(ReportSession::ReportName(10906)));
        window.OpenReport(10902, ReportSession::SampleFilter(10902));
        QCOMPARE(window.Tabs()->currentIndex(), 1);
        activate(window);
        QTest::keyClick(&window, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(window.Tabs()->currentIndex(), 0);
        QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(window.CurrentView()->Find()->isVisible());
        QVERIFY(window.CurrentView()->Find()->Edit()->hasFocus());
        // The dialogs are closed unanswered: the exports themselves are checked in the report
        // view's tests.
        const std::pair<Qt::Key, const char *> shortcuts[] = {{Qt::Key_P, "QPrintPreviewDialog"}, {Qt::Key_E, "QFileDialog"}};
        for (const auto &[key, dialogClass] : shortcuts) {
            activate(window);
            QTest::keyClick(&window, key, Qt::ControlModifier);
            QTRY_VERIFY(answer.seen.contains(dialogClass));
            QTRY_VERIFY(!QApplication::activeModalWidget());
        }
        activate(window);
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        QTRY_COMPARE(window.Tabs()->count(), 1);
        QVERIFY(window.Tabs()->tabText(0).startsWith(ReportSession::ReportName(10902)));
    }

    // A double click on a row opens its detail in a new tab, through Application; a row whose
    // grouping the detail's filter cannot express says so instead.
    void doubleClickDrillsDown_data()
    {
        QTest::addColumn<Drill>("drill");
        QTest::newRow("10902_card_to_its_lines_at_that_branch") << Drill{10902, 0, 0, "FNo", 10903, "FMemCardID"};
        QTest::newRow("10902_branch_to_its_lines") << Drill{10902, 1, 1, "FNo", 10903, ""};
        QTest::newRow("10902_card_type_cannot_be_filtered") << Drill{10902, 2, 1, "FNo", 0, ""};
        QTest::newRow("10901_card_to_its_lines") << Drill{10901, -1, 0, "FCardId", 10903, "FMemCardID"};
        QTest::newRow("10905_topup_to_card_ledger") << Drill{10905, -1, 0, "FCardID", 10901, "FCardId"};
        QTest::newRow("10904_gift_to_card_ledger") << Drill{10904, 1, 0, "FCardID", 10901, "FCardId"};
        QTest::newRow("10908_branch_to_its_ledger") << Drill{10908, -1, 0, "FBranchNo", 10901, ""};
        QTest::newRow("10909_card_to_its_ledger") << Drill{10909, 1, 0, "FCardNo", 10901, "FCardId"};
    }

    void doubleClickDrillsDown()
    {
        QFETCH(Drill, drill);
        const auto &[from, groupBy, rowKind, keyField, to, detailCardField] = drill;
        ChainWindow window(m_props, false);
        DictionaryPtr filter = ReportSession::SampleFilter(from);
        if (from == 10909) {   // its list of cards, every balance
            filter->SetValue("ShowCards", QVariant::fromValue<qint16>(qint16(groupBy)));
            filter->SetValue("MinBalance", 0.0);
        } else if (groupBy >= 0) {
            filter->SetValue("GroupBy", qint32(groupBy));
        }
        ReportView *view = window.OpenReport(from, filter);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const ReportOutput report = view->Model()->Report();
        int row = 0;
        while (view->Model()->index(row, 0).data(ReportTableModel::RowKindRole).toInt() != rowKind)
            ++row;
        const qint64 source = view->Model()->SourceRow(row);
        const QString key = report.rs->TextAt(source, report.rs->FieldIndex(keyField));
        QVERIFY(!key.isEmpty());
        QTableView *table = view->Table();
        table->scrollTo(table->model()->index(row, 3));
        const QPoint cell = table->visualRect(table->model()->index(row, 3)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
        if (to == 0) {
            QCOMPARE(window.Tabs()->count(), 1);
            QVERIFY2(window.statusBar()->currentMessage().contains("不能按卡类别过滤"),
                     qPrintable(window.statusBar()->currentMessage()));
            // The row's tooltip says the same before anyone double-clicks.
            QHelpEvent help(QEvent::ToolTip, cell, table->viewport()->mapToGlobal(cell));
            QApplication::sendEvent(table->viewport(), &help);
            QTRY_COMPARE(QToolTip::text(), window.statusBar()->currentMessage());
            return;
        }
        QCOMPARE(window.Tabs()->count(), 2);
        ReportView *detail = window.CurrentView();
        QVERIFY2(detail->ErrorText().isEmpty(), qPrintable(detail->ErrorText()));
        QCOMPARE(detail->Model()->Report().filter->Value("RptID").toInt(), to);
        const QString title = window.Tabs()->tabText(1);
        QVERIFY2(title.startsWith(ReportSession::ReportName(to) + " 2024-01 "), qPrintable(title));
        QVERIFY2(title.contains((detailCardField.isEmpty() ? "分店 " : "会员卡 ") + key), qPrintable(title));
        const ReportOutput lines = detail->Model()->Report();
        QVERIFY(detail->Model()->DetailRowCount() > 0);
        const auto isDetail = [&](int r) { return detail->Model()->index(r, 0).data(ReportTableModel::RowKindRole).toInt() == 0; };
        if (!detailCardField.isEmpty())
            for (int r = 0; r < detail->Model()->rowCount(); ++r)
                if (isDetail(r))
                    QCOMPARE(lines.rs->TextAt(r, lines.rs->FieldIndex(detailCardField)), key);
        if (from == 10902) {
            // The row's sales of the period are exactly the lines shown.
            double lineSum = 0;
            for (int r = 0; r < lines.rs->RecordCount(); ++r)
                if (isDetail(r))
                    lineSum += lines.rs->DoubleAt(r, lines.rs->FieldIndex("FSaleAmount"));
            const double rowSum = report.rs->DoubleAt(source, report.rs->FieldIndex("FpayAmount"));
            QVERIFY2(qAbs(lineSum - rowSum) < 0.005, qPrintable(QString("%1 != %2").arg(lineSum).arg(rowSum)));
        }
    }

    // The settings file never holds the password. Where no keyring answers (here, as in CI) a
    // password to remember is not kept at all, and the user is told.
    void connectionSettingsKeepNoPasswordInTheFile()
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        ConnectionSettings s;
        s.kind = ConnectionSettings::Kind::PostgreSQL;
        s.host = "db.example";
        s.port = 6543;
        s.database = "velvip";
        s.user = "report";
        s.password = "Pw;with=odd\"chars";
        s.context = ReportSession::DefaultContext();
        s.context["ISBranch"] = true;
        s.context["BranchNum"] = "003";
        for (bool remember : {false, true}) {
            QSettings().clear();
            s.rememberPassword = remember;
            const QString problem = [&] { QSettings settings; return s.Save(settings); }();
            QCOMPARE(problem.contains("密码没有保存"), remember);
            QSettings settings;
            const ConnectionSettings loaded = ConnectionSettings::Load(settings);
            QCOMPARE(QVariantList({int(loaded.kind), loaded.port, loaded.password, loaded.rememberPassword,
                                   loaded.context.value("ISBranch").toBool(), loaded.context.value("BranchNum").toString()}),
                     QVariantList({int(ConnectionSettings::Kind::PostgreSQL), 6543, QString(), false, true, QString("003")}));
            QFile file(settings.fileName());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(!file.readAll().contains("Pw;with"));
            QVERIFY(!loaded.Describe().contains("Pw;with"));
        }
        QVERIFY(s.PropsString().contains("Port=6543"));
    }

    // The dialog refuses what cannot work and tests a connection without showing its password;
    // its standard buttons speak Chinese.
    void connectionDialogChecksTheConnection()
    {
        QVERIFY(InstallQtTranslations());
        using K = ConnectionSettings::Kind;
        const DialogCase cases[] = {
            {int(K::SQLite), "missing.sqlite", false, "数据库文件不存在：", false},   // refused
            {int(K::SQLite), "small.sqlite", true, "连接成功：", true},
            {int(K::PostgreSQL), "", true, "连接失败：", true},                      // closed port, said plainly
        };
        ConnectionSettings s;
        s.port = 1;
        s.database = "velvip";
        s.user = "report";
        s.password = "Sekr1t-pw";
        s.context = ReportSession::DefaultContext();
        s.context["AppType"] = 1;
        for (const auto &[kind, sqliteFile, test, message, accepted] : cases) {
            s.kind = K(kind);
            s.sqlitePath = sqliteFile.isEmpty() ? QString() : m_dir.filePath(sqliteFile);
            ConnectionDialog dialog(s);
            QVERIFY(dialog.findChild<QComboBox *>() != nullptr);
            QCOMPARE(dialog.Settings().context.value("AppType").toInt(), 1);
            const auto *box = dialog.findChild<QDialogButtonBox *>();
            QVERIFY(box->button(QDialogButtonBox::Ok)->text().contains("确定") && box->button(QDialogButtonBox::Cancel)->text().contains("取消"));
            test ? click(&dialog, "测试连接") : dialog.accept();
            QTRY_VERIFY2_WITH_TIMEOUT(dialog.MessageText().startsWith(message), qPrintable(dialog.MessageText()), 10000);
            QVERIFY(!dialog.MessageText().contains("Sekr1t"));
            dialog.accept();
            QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        }
    }

    // A server that takes the connection and never answers holds the test, not the window: it
    // says so at once and offers 取消, which drops the test.
    void connectionTestRunsBesideTheWindow()
    {
        const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&at), size) == 0 && ::listen(silent, 4) == 0
                && ::getsockname(silent, reinterpret_cast<sockaddr *>(&at), &size) == 0);
        const auto closeSocket = qScopeGuard([silent] { ::close(silent); });
        ConnectionSettings s;
        s.kind = ConnectionSettings::Kind::PostgreSQL;
        s.host = "127.0.0.1", s.port = ntohs(at.sin_port), s.database = "velvip", s.user = "report";
        ConnectionDialog dialog(s);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        click(&dialog, "测试连接");
        QCOMPARE(dialog.MessageText(), QStringLiteral("正在测试…"));
        auto *cancel = dialog.findChild<QPushButton *>("cancelTest");
        QVERIFY(cancel->isVisible());
        if (const QString folder = qEnvironmentVariable("VELVIP_SCREENSHOTS"); !folder.isEmpty())
            QVERIFY(dialog.grab().save(QDir(folder).filePath("host-connection-testing.png")));
        cancel->click();
        QCOMPARE(dialog.MessageText(), QStringLiteral("已取消测试"));
        QVERIFY(!cancel->isVisible());
        for (QPushButton *b : dialog.findChildren<QPushButton *>())
            QVERIFY(b->isEnabled());
    }

    // A run the user stops (here while it waits on another program's write lock) says "已取消",
    // not that it failed.
    void cancelledRunIsNoError()
    {
        const QString chain = m_dir.filePath("locked.sqlite");
        QFile::remove(chain);
        QVERIFY(QFile::copy(m_dir.filePath("small.sqlite"), chain));
        ShareProps::SetHostProperty(QStringLiteral("AllowCancel"), 1);
        {
            QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
            writer.setDatabaseName(chain);
            QVERIFY(writer.open());
            QSqlQuery lock(writer);
            QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
            ChainWindow window(DemoChain::SqliteConnectionText(chain));
            Answer cancel([](QDialog *d) {
                auto *button = d->findChild<QPushButton *>("cmdCancel");
                if (button && button->isVisible() && button->isEnabled())
                    button->click();
            });
            ReportView *view = window.OpenReport(10906, ReportSession::SampleFilter(10906));
            QCOMPARE(view->ErrorText(), QStringLiteral("已取消"));
            lock.exec("ROLLBACK");
        }
        QSqlDatabase::removeDatabase("writer");
        ShareProps::SetHostProperty(QStringLiteral("AllowCancel"), 0);
    }

    // Geometry, columns per report (shown, widths, frozen) and, when asked, the open tabs
    // outlive the window.
    void windowRemembersWhatTheUserSetUp()
    {
        QString titles;
        int hidden = -1;
        {
            ChainWindow window(m_props);
            window.resize(900, 640);
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.findChild<QAction *>("restoreTabs")->setChecked(true);
            ReportView *lines = window.OpenReport(10903, ReportSession::SampleFilter(10903));
            FrozenTableView *table = lines->Table();
            hidden = table->model()->columnCount() - 2;
            // The header's own menu hides a column and freezes up to another; widening one is
            // a resize like a drag.
            QHeaderView *header = table->horizontalHeader();
            chooseFromMenu(header->viewport(), QPoint(5, 5), lines->Model()->Layout().Columns().at(hidden).FlatCaption());
            QVERIFY(table->isColumnHidden(hidden));
            QCOMPARE(table->FrozenColumnCount(), 0);
            chooseFromMenu(header->viewport(), QPoint(header->sectionViewportPosition(2) + 5, 5), "冻结到此列");
            QCOMPARE(table->FrozenColumnCount(), 3);
            QVERIFY(table->FrozenView()->isVisible());
            QCOMPARE(lines->ShownReport().FrozenColumns(), 3);
            table->setColumnWidth(1, 217);
            DrillDown::Target detail{10903, ReportSession::SampleFilter(10903), "会员卡 X", {}, {}};
            detail.filter->SetValue("BVipNum", "V0001");
            detail.filter->SetValue("EVipNum", "V0001");
            window.OpenDetail(detail);
            titles = tabTitles(window.Tabs());
            window.close();
        }
        MainWindow again;
        QCOMPARE(again.size(), QSize(900, 640));
        again.RestoreTabs();
        QCOMPARE(tabTitles(again.Tabs()), titles);
        auto *view = qobject_cast<ReportView *>(again.Tabs()->widget(0));
        QVERIFY2(view->ErrorText().isEmpty(), qPrintable(view->ErrorText()));
        QVERIFY(view->Table()->isColumnHidden(hidden));
        QCOMPARE(view->Table()->columnWidth(1), 217);
        QVERIFY(!view->Table()->isColumnHidden(1));
        // Frozen as left, until the body's menu puts the report's own count back; other
        // reports keep theirs.
        QCOMPARE(view->Table()->FrozenColumnCount(), 3);
        QWidget *body = view->Table()->viewport();
        chooseFromMenu(body, QPoint(body->width() - 5, 5), "恢复默认冻结");
        QCOMPARE(view->Table()->FrozenColumnCount(), 0);
        again.OverrideConnection(m_props);
        QCOMPARE(again.OpenReport(10903, ReportSession::SampleFilter(10903))->Table()->FrozenColumnCount(), 0);
        QCOMPARE(again.OpenReport(10901, ReportSession::SampleFilter(10901))->Table()->FrozenColumnCount(), 2);
    }
};

QTEST_MAIN(tst_Host)
#include "tst_host.moc"
