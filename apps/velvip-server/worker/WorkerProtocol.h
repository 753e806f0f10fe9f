#pragma once

#include "VelError.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <optional>

// What the service and its workers say to each other. Each message is one frame: a 32-bit length
// (big endian) and a CBOR map. A request carries an id and its user; every answer frame repeats
// both, so that an answer can only be relayed to the request it belongs to.
namespace WorkerProtocol {

// The limits every route and every frame keeps to.
inline constexpr int MaxBody = 64 * 1024;                 // a request body, as read from a client
inline constexpr int MaxQueryText = 200;                  // a lookup's search text is cut to this
inline constexpr quint32 MaxRequestFrame = 2 * MaxBody + 4096;   // body, filter name and the rest
inline constexpr quint32 MaxAnswerFrame = (1u << 20) + 4096;     // a piece of output and its frame

// Why a request body (or a query parameter) may not go on: too large, not UTF-8, or holding a
// control character other than tab and line ends; empty when it may. The one check of every
// route's input.
QString BodyProblem(QByteArrayView body);
// Whether decoded text (a JSON key or text value) holds any control character, tab and line
// ends included.
bool HasControl(QStringView text);

enum class Op : quint8 { Run = 1, Drill = 2, Lookup = 3 };

struct WorkerRequest
{
    quint64 id = 0;
    Op op = Op::Run;
    QString user;
    QString branch;            // the user's branch; empty: head office
    bool sharedCards = true;   // the chain shares stored-value cards between branches
    QString props;             // the chain's connection text
    // Run and Drill
    qint32 report = 0;
    QByteArray filter;         // the body, checked
    QDate today;
    QString format = QStringLiteral("json");
    bool bom = false;
    bool rowsFirst = false;
    QString sort;              // a file's rows sorted by this field, as the page shows them
    bool descending = false;
    qint64 row = -1;           // Drill
    // Lookup
    qint32 lookupType = 0;
    QString condition;         // a fixed condition from the service's own table
    QString text;
    qint32 offset = 0, limit = 0;

    QByteArray Encode() const;
    // Nothing when the payload is no request.
    static std::optional<WorkerRequest> Decode(const QByteArray &payload);
};

enum class FrameKind : quint8 {
    Head = 1,      // the answer begins: the report's name
    Data = 2,      // a piece of the output, as written
    End = 3,       // the answer is complete: rows, totals line, period
    Failure = 4,   // the request failed (before data, or cut after it)
};

struct WorkerAnswer
{
    quint64 id = 0;
    QString user;
    FrameKind kind = FrameKind::Failure;
    QString name;                      // Head
    QByteArray data;                   // Data (may be raw data: it is encoded, not kept)
    qint64 rows = 0;                   // End
    QString totals, period;            // End
    bool last = false;                 // End: the worker ends after this answer
    Vel::ErrorKind error = Vel::ErrorKind::Internal;   // Failure
    QString sentence;                  // Failure

    QByteArray Encode() const;
    static std::optional<WorkerAnswer> Decode(const QByteArray &payload);
    static WorkerAnswer Failed(const WorkerRequest &request, Vel::ErrorKind kind, QString sentence);
};

// The HTTP status of a failure of this kind.
int StatusOf(Vel::ErrorKind kind);

// Writes one frame; false when the other side is gone.
bool WriteFrame(int fd, const QByteArray &payload);

enum class Fault { None, Closed, TooLarge, Malformed, OutOfTurn, TimedOut, Stopped };
// Reads one frame of at most `limit` bytes. Waits at most `timeoutMs` for its first byte
// (-1: no limit). Gives up (Stopped) as soon as `stop` (a descriptor; -1: none) is readable,
// also in the middle of a frame.
std::optional<QByteArray> ReadFrame(int fd, quint32 limit, Fault &fault, int timeoutMs = -1, int stop = -1);
// Reads one answer frame to `request`: a frame that is too large, no answer, or an answer to
// another request or user is a fault.
std::optional<WorkerAnswer> ReadAnswer(int fd, const WorkerRequest &request, Fault &fault, int stop = -1);

} // namespace WorkerProtocol

using WorkerProtocol::WorkerAnswer;
using WorkerProtocol::WorkerRequest;
