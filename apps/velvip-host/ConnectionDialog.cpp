#include "ConnectionDialog.h"

#include "ReadSessions.h"
#include "VelError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QThreadPool>
#include <QVBoxLayout>

ConnectionDialog::ConnectionDialog(const ConnectionSettings &s, QWidget *parent)
    : QDialog(parent), m_kind(new QComboBox(this)), m_pages(new QStackedWidget(this)),
      m_sqlitePath(new QLineEdit(s.sqlitePath, this)), m_host(new QLineEdit(s.host, this)),
      m_port(new QSpinBox(this)), m_database(new QLineEdit(s.database, this)), m_user(new QLineEdit(s.user, this)),
      m_password(new QLineEdit(s.password, this)), m_rememberPassword(new QCheckBox(QStringLiteral("记住密码"), this)),
      m_appType(new QComboBox(this)), m_isBranch(new QCheckBox(QStringLiteral("本机是分店"), this)),
      m_shareCards(new QCheckBox(QStringLiteral("储值卡各店通用"), this)),
      m_branchNum(new QLineEdit(s.context.value(QStringLiteral("BranchNum")).toString(), this)),
      m_message(new QLabel(this))
{
    setWindowTitle(QStringLiteral("连接设置"));
    m_kind->addItems({QStringLiteral("演示数据库（内置）"), QStringLiteral("SQLite 数据库文件"),
                      QStringLiteral("PostgreSQL 服务器")});

    m_pages->addWidget(new QLabel(QStringLiteral("使用内置的演示连锁数据，首次使用时自动生成。"), this));
    auto *sqlitePage = new QWidget(this);
    auto *sqliteRow = new QHBoxLayout(sqlitePage);
    sqliteRow->setContentsMargins(0, 0, 0, 0);
    auto *browse = new QPushButton(QStringLiteral("浏览..."), sqlitePage);
    sqliteRow->addWidget(m_sqlitePath, 1);
    sqliteRow->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("选择数据库文件"), m_sqlitePath->text(),
                                                          QStringLiteral("SQLite 数据库 (*.sqlite *.db);;所有文件 (*)"));
        if (!path.isEmpty())
            m_sqlitePath->setText(path);
    });
    m_pages->addWidget(sqlitePage);
    auto *pgPage = new QWidget(this);
    auto *pgForm = new QFormLayout(pgPage);
    pgForm->setContentsMargins(0, 0, 0, 0);
    m_port->setRange(1, 65535);
    m_port->setValue(s.port);
    m_password->setEchoMode(QLineEdit::Password);
    m_rememberPassword->setChecked(s.rememberPassword);
    m_rememberPassword->setToolTip(QStringLiteral("密码将保存在桌面的密钥环中，不写入设置文件"));
    pgForm->addRow(QStringLiteral("主机"), m_host);
    pgForm->addRow(QStringLiteral("端口"), m_port);
    pgForm->addRow(QStringLiteral("数据库"), m_database);
    pgForm->addRow(QStringLiteral("用户"), m_user);
    pgForm->addRow(QStringLiteral("密码"), m_password);
    pgForm->addRow(QString(), m_rememberPassword);
    m_pages->addWidget(pgPage);
    connect(m_kind, &QComboBox::currentIndexChanged, m_pages, &QStackedWidget::setCurrentIndex);
    m_kind->setCurrentIndex(int(s.kind));
    m_pages->setCurrentIndex(int(s.kind));

    auto *contextBox = new QGroupBox(QStringLiteral("登录环境"), this);
    auto *contextForm = new QFormLayout(contextBox);
    // What each application type changes in the reports: the title block and the grouping lists.
    m_appType->addItem(QStringLiteral("1 - 标题不列辅助属性和订单编号"), 1);
    m_appType->addItem(QStringLiteral("2 - 完整标题（默认）"), 2);
    m_appType->addItem(QStringLiteral("4 - 完整标题，分组列表按类型 4 筛选"), 4);
    const int appType = s.context.value(QStringLiteral("AppType"), 2).toInt();
    if (m_appType->findData(appType) < 0)
        m_appType->addItem(QString::number(appType), appType);
    m_appType->setCurrentIndex(m_appType->findData(appType));
    m_isBranch->setChecked(s.context.value(QStringLiteral("ISBranch")).toBool());
    m_shareCards->setChecked(s.context.value(QStringLiteral("SVCardShareType")).toBool());
    contextForm->addRow(QStringLiteral("应用类型"), m_appType);
    contextForm->addRow(QString(), m_isBranch);
    contextForm->addRow(QString(), m_shareCards);
    contextForm->addRow(QStringLiteral("分店编码"), m_branchNum);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_test = buttons->addButton(QStringLiteral("测试连接"), QDialogButtonBox::ActionRole);
    connect(m_test, &QPushButton::clicked, this, &ConnectionDialog::TestConnection);
    m_cancelTest = new QPushButton(QStringLiteral("取消"), this);
    m_cancelTest->setObjectName(QStringLiteral("cancelTest"));
    m_cancelTest->setAutoDefault(false);
    m_cancelTest->hide();
    connect(m_cancelTest, &QPushButton::clicked, this, &ConnectionDialog::CancelTest);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    auto *kindForm = new QFormLayout;
    kindForm->addRow(QStringLiteral("数据来源"), m_kind);
    layout->addLayout(kindForm);
    layout->addWidget(m_pages);
    layout->addWidget(contextBox);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setMinimumWidth(1);
    auto *messageRow = new QHBoxLayout;
    messageRow->addWidget(m_message, 1);
    messageRow->addWidget(m_cancelTest, 0, Qt::AlignTop);
    layout->addLayout(messageRow);
    layout->addWidget(buttons);
}

QString ConnectionDialog::MessageText() const
{
    return m_message->text();
}

void ConnectionDialog::showMessage(const QString &text, bool ok)
{
    m_message->setStyleSheet(ok ? QStringLiteral("QLabel { color: #006000; }") : QStringLiteral("QLabel { color: #a00000; }"));
    m_message->setText(text);
}

QString ConnectionDialog::problem(const ConnectionSettings &s)
{
    if (s.kind == ConnectionSettings::Kind::SQLite && s.sqlitePath.isEmpty())
        return QStringLiteral("请选择 SQLite 数据库文件。");
    if (s.kind == ConnectionSettings::Kind::SQLite && !QFileInfo(s.sqlitePath).isFile())
        return QStringLiteral("数据库文件不存在：%1").arg(s.sqlitePath);
    if (s.kind == ConnectionSettings::Kind::PostgreSQL && (s.host.isEmpty() || s.database.isEmpty()))
        return QStringLiteral("请填写 PostgreSQL 的主机和数据库。");
    return {};
}

void ConnectionDialog::setTesting(bool testing)
{
    m_testing = testing;
    m_test->setEnabled(!testing);
    m_cancelTest->setVisible(testing);
    if (testing)
        showMessage(QStringLiteral("正在测试…"), true);
}

void ConnectionDialog::TestConnection()
{
    const ConnectionSettings s = Settings();
    if (const QString bad = problem(s); !bad.isEmpty()) {
        showMessage(bad, false);
        return;
    }
    QString text;
    try {
        text = s.PropsString();
    } catch (const VelError &e) {
        showMessage(QStringLiteral("连接失败：%1").arg(e.Description()), false);
        return;
    }
    // A server that never answers holds the test until its connect timeout: not the window.
    setTesting(true);
    const int run = ++m_testRun;
    QPointer<ConnectionDialog> self(this);
    QThreadPool::globalInstance()->start([self, run, text, described = s.Describe()] {
        QString message;
        bool ok = true;
        try {
            ReadSessions::Probe(text);
            message = QStringLiteral("连接成功：%1").arg(described);
        } catch (const VelError &e) {
            ok = false;
            message = QStringLiteral("连接失败：%1").arg(e.Description());
        }
        QMetaObject::invokeMethod(qApp, [self, run, message, ok] {
            if (!self || self->m_testRun != run || !self->m_testing)
                return;
            self->setTesting(false);
            self->showMessage(message, ok);
        }, Qt::QueuedConnection);
    });
}

void ConnectionDialog::CancelTest()
{
    if (!m_testing)
        return;
    ++m_testRun;
    setTesting(false);
    showMessage(QStringLiteral("已取消测试"), false);
}

ConnectionSettings ConnectionDialog::Settings() const
{
    ConnectionSettings s;
    s.kind = ConnectionSettings::Kind(m_kind->currentIndex());
    s.sqlitePath = m_sqlitePath->text().trimmed();
    s.host = m_host->text().trimmed();
    s.port = m_port->value();
    s.database = m_database->text().trimmed();
    s.user = m_user->text().trimmed();
    s.password = m_password->text();
    s.rememberPassword = m_rememberPassword->isChecked();
    s.context = {{QStringLiteral("AppType"), m_appType->currentData().toInt()},
                 {QStringLiteral("ISBranch"), m_isBranch->isChecked()},
                 {QStringLiteral("SVCardShareType"), m_shareCards->isChecked()},
                 {QStringLiteral("BranchNum"), m_branchNum->text().trimmed()}};
    return s;
}

void ConnectionDialog::accept()
{
    CancelTest();
    if (const QString bad = problem(Settings()); !bad.isEmpty()) {
        showMessage(bad, false);
        return;
    }
    QDialog::accept();
}
