#pragma once

#include <memory>
#include <string>

namespace httplib { struct Request; struct Response; }

// gzip for the service's answers. The HTTP library compresses only bodies whose type it knows
// exactly (not "application/json; charset=utf-8") and buffers a streamed answer until its
// compressor fills, so the service does both itself.
namespace Compression {

// Whether the request's Accept-Encoding takes TOKEN ("gzip", "br") with a weight above 0.
bool Accepts(const httplib::Request &req, const char *token);

// A JSON body of 1 kB or more goes out gzipped when the client takes gzip.
void GzipJsonBody(const httplib::Request &req, httplib::Response &res);

// One gzip member written piece by piece; each Write ends flushed, so every piece the client
// receives can be read at once. LEVEL as zlib's (1 fastest, 9 smallest).
class GzipStream
{
public:
    explicit GzipStream(int level = 6);
    ~GzipStream();
    std::string Write(const char *data, size_t size);
    std::string Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace Compression
