#include "PortalRoutes.h"

#include "Compression.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <httplib.h>

#include <map>
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

// One file of the portal with its precompressed copies (NAME.br, NAME.gz) when the build made them.
struct Asset
{
    std::string identity, br, gz, type, etag;
    bool immutable = false;   // its name carries a hash of its content
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Types the HTTP library leaves uncompressed (it compresses exact known types only), so that a
// precompressed copy is not compressed twice; a style sheet is small and compressed by it.
std::string typeOf(const QString &name)
{
    if (name.endsWith(QLatin1String(".js")))
        return "application/javascript; charset=utf-8";
    if (name.endsWith(QLatin1String(".css")))
        return "text/css; charset=utf-8";
    if (name.endsWith(QLatin1String(".svg")))
        return "image/svg+xml";
    return "text/html; charset=utf-8";
}

std::map<std::string, Asset> readPortal(const QString &folder)
{
    static const QRegularExpression hashed(QStringLiteral("^(app|chunk)-[A-Z0-9]{8}\\.(js|css)$"));
    std::map<std::string, Asset> assets;
    if (folder.isEmpty())
        return assets;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.html"), QStringLiteral("*.js"), QStringLiteral("*.css"),
                                              QStringLiteral("*.svg")}, QDir::Files)) {
        Asset a;
        a.identity = readAll(dir.filePath(name)).toStdString();
        a.type = typeOf(name);
        a.immutable = hashed.match(name).hasMatch();
        if (a.type.rfind("application/javascript", 0) == 0) {
            a.br = readAll(dir.filePath(name + QStringLiteral(".br"))).toStdString();
            a.gz = readAll(dir.filePath(name + QStringLiteral(".gz"))).toStdString();
        }
        // Weak: the same tag stands for every encoding of the file.
        a.etag = "W/\"" + QCryptographicHash::hash(QByteArray::fromStdString(a.identity), QCryptographicHash::Sha256)
                              .toHex().left(16).toStdString() + "\"";
        assets.emplace(name.toStdString(), std::move(a));
    }
    return assets;
}

bool matches(const std::string &ifNoneMatch, const std::string &etag)
{
    const auto bare = [](std::string tag) { return tag.rfind("W/", 0) == 0 ? tag.substr(2) : tag; };
    size_t at = 0;
    while (at < ifNoneMatch.size()) {
        size_t end = ifNoneMatch.find(',', at);
        if (end == std::string::npos)
            end = ifNoneMatch.size();
        std::string tag = ifNoneMatch.substr(at, end - at);
        tag.erase(0, tag.find_first_not_of(' '));
        tag.erase(tag.find_last_not_of(' ') + 1);
        if (tag == "*" || bare(tag) == bare(etag))
            return true;
        at = end + 1;
    }
    return false;
}

void serve(const Asset &a, const httplib::Request &req, httplib::Response &res)
{
    res.set_header("Cache-Control", a.immutable ? "public, max-age=31536000, immutable" : "no-cache");
    res.set_header("ETag", a.etag);
    res.set_header("Vary", "Accept-Encoding");
    if (req.has_header("If-None-Match") && matches(req.get_header_value("If-None-Match"), a.etag)) {
        res.status = 304;
        return;
    }
    const bool br = !a.br.empty() && Compression::Accepts(req, "br");
    const bool gz = !br && !a.gz.empty() && Compression::Accepts(req, "gzip");
    if (br || gz)
        res.set_header("Content-Encoding", br ? "br" : "gzip");
    res.set_content(br ? a.br : gz ? a.gz : a.identity, a.type);
}

} // namespace

void AddPortalRoutes(httplib::Server &http)
{
    // Read once at start: the bundle never changes while the service runs.
    auto assets = std::make_shared<const std::map<std::string, Asset>>(readPortal(portalFolder()));
    const auto route = [assets](const std::string &name) {
        return [assets, name](const httplib::Request &req, httplib::Response &res) {
            const std::string wanted = name.empty() ? std::string(req.matches[1]) : name;
            const auto found = assets->find(wanted);
            if (found != assets->end())
                return serve(found->second, req, res);
            res.status = 404;
            const QString sentence = assets->empty() ? QStringLiteral("网页门户没有安装（缺少 portal 文件夹）。")
                                                     : QStringLiteral("没有这个地址");
            res.set_content(QJsonDocument(QJsonObject{{QStringLiteral("error"), sentence}}).toJson(QJsonDocument::Compact).toStdString(),
                            "application/json; charset=utf-8");
        };
    };
    http.Get("/", route("index.html"));
    http.Get("/favicon.ico", route("favicon.svg"));
    http.Get(R"(/([A-Za-z0-9_-]+\.(?:js|css|svg)))", route({}));
}
