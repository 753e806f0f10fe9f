#include "PasswordKeyring.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

namespace PasswordKeyring {

namespace {

const QString kService = QStringLiteral("VelVipRpt");

// Runs a job to its end. A keyring that asks the user to unlock it may take a while; one that
// never answers is given up after a minute.
bool run(QKeychain::Job &job, const QString &login)
{
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    job.setKey(login);
    QEventLoop loop;
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    job.start();
    if (!done)
        loop.exec();
    return done && job.error() == QKeychain::NoError;
}

} // namespace

QString Store(const QString &login, const QString &password)
{
    QKeychain::WritePasswordJob job(kService);
    job.setTextData(password);
    if (run(job, login))
        return {};
    return QStringLiteral("本机没有可用的密钥环，密码没有保存，下次连接时需要重新输入。"
                          "也可以在启动前设置环境变量 PGPASSWORD，或把密码写入只有自己能读的 ~/.pgpass 文件。");
}

QString Read(const QString &login)
{
    QKeychain::ReadPasswordJob job(kService);
    return run(job, login) ? job.textData() : QString();
}

void Forget(const QString &login)
{
    QKeychain::DeletePasswordJob job(kService);
    run(job, login);
}

} // namespace PasswordKeyring
