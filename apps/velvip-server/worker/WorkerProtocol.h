#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <optional>

// Frames between the service and a worker process: one type byte, a 32-bit length (little
// endian), the payload. The service sends one request line (a JSON object) on the worker's
// standard input; the worker answers with a header, data frames and an end frame.
namespace WorkerProtocol {

enum class Frame : char {
    Header = 'H',   // JSON: {"status": 200, ...} or {"status": 4xx/5xx, "error": "…"}; after data, the answer was cut
    Data = 'D',     // a piece of the output, as written
    End = 'E',      // JSON: {"rows": N, "totals": "…"}
};

inline constexpr quint32 MaxFrame = 1u << 20;

// Writes one frame to the descriptor; false when the other side is gone.
bool Write(int fd, Frame type, const char *data, quint32 size);
bool WriteJson(int fd, Frame type, const QJsonObject &object);

struct Received
{
    Frame type;
    QByteArray payload;
};
// Reads one frame; nothing at the end of the stream or on a broken frame. Waits at most
// `timeoutMs` for its first byte (-1: no limit) and sets `timedOut` when that passed.
std::optional<Received> Read(int fd, int timeoutMs = -1, bool *timedOut = nullptr);

} // namespace WorkerProtocol
