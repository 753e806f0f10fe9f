#include "PortalRoutes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <memory>

namespace {

QString portalFolder()
{
    const QDir bin(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {QStringLiteral("portal"), QStringLiteral("../share/velvip-server/portal")})
        if (QFile::exists(bin.filePath(candidate + QStringLiteral("/index.html"))))
            return bin.filePath(candidate);
    return {};
}

} // namespace

void AddPortalRoutes(httplib::Server &http)
{
    const QString folder = portalFolder();
    struct File { const char *path; const char *name; const char *type; };
    static const File files[] = {{"/", "index.html", "text/html; charset=utf-8"},
                                 {"/app.js", "app.js", "text/javascript; charset=utf-8"},
                                 {"/app.css", "app.css", "text/css; charset=utf-8"}};
    for (const File &f : files) {
        // Read once at start: the bundle is small and never changes while the service runs.
        QFile file(QDir(folder).filePath(QString::fromLatin1(f.name)));
        auto body = std::make_shared<std::string>();
        if (!folder.isEmpty() && file.open(QIODevice::ReadOnly))
            *body = file.readAll().toStdString();
        const std::string type = f.type;
        http.Get(f.path, [body, type](const httplib::Request &, httplib::Response &res) {
            res.set_header("Cache-Control", "no-cache");   // the security headers are the service's defaults
            if (body->empty()) {
                res.status = 404;
                const QJsonObject error{{QStringLiteral("error"), QStringLiteral("网页门户没有安装（缺少 portal 文件夹）。")}};
                return res.set_content(QJsonDocument(error).toJson(QJsonDocument::Compact).toStdString(),
                                       "application/json; charset=utf-8");
            }
            res.set_content(*body, type);
        });
    }
}
