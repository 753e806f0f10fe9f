#include "Compression.h"

#include <httplib.h>
#include <zlib.h>

#include <cstring>
#include <sstream>

namespace Compression {

bool Accepts(const httplib::Request &req, const char *token)
{
    std::stringstream header(req.get_header_value("Accept-Encoding"));
    std::string part;
    while (std::getline(header, part, ',')) {
        const size_t start = part.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        const size_t semi = part.find(';');
        std::string name = part.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        name.erase(name.find_last_not_of(" \t") + 1);
        if (name != token)
            continue;
        if (semi == std::string::npos)
            return true;
        const size_t q = part.find("q=", semi);
        return q == std::string::npos || std::strtod(part.c_str() + q + 2, nullptr) > 0;
    }
    return false;
}

void GzipJsonBody(const httplib::Request &req, httplib::Response &res)
{
    if (res.body.size() < 1024 || res.has_header("Content-Encoding")
        || res.get_header_value("Content-Type").rfind("application/json", 0) != 0)
        return;
    res.set_header("Vary", "Accept-Encoding");
    if (!Accepts(req, "gzip"))
        return;
    GzipStream gzip;
    std::string body = gzip.Write(res.body.data(), res.body.size());
    body += gzip.Finish();
    res.body = std::move(body);
    res.set_header("Content-Encoding", "gzip");
    // The library has set the length of the plain body by now: a client would wait for the rest.
    res.headers.erase("Content-Length");
    res.set_header("Content-Length", std::to_string(res.body.size()));
}

struct GzipStream::State
{
    z_stream z{};
    std::string Run(const char *data, size_t size, int flush)
    {
        std::string out;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        z.avail_in = uInt(size);
        char buffer[16384];
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
        return out;
    }
};

GzipStream::GzipStream(int level) : m_state(std::make_unique<State>())
{
    deflateInit2(&m_state->z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);   // 16: a gzip header
}

GzipStream::~GzipStream()
{
    deflateEnd(&m_state->z);
}

std::string GzipStream::Write(const char *data, size_t size)
{
    return m_state->Run(data, size, Z_SYNC_FLUSH);
}

std::string GzipStream::Finish()
{
    return m_state->Run(nullptr, 0, Z_FINISH);
}

} // namespace Compression
