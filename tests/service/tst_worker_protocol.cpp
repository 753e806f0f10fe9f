// The frames between the service and its workers: what the service accepts as an answer to the
// request it sent, and what it refuses (the worker is then replaced).
#include "WorkerProtocol.h"

#include <QCborArray>
#include <QCborMap>
#include <QTest>

#include <unistd.h>

using WorkerProtocol::Fault;
using WorkerProtocol::FrameKind;

namespace {

QByteArray framed(const QByteArray &payload, qint64 declared = -1)
{
    const quint32 n = quint32(declared < 0 ? payload.size() : declared);
    const char head[4] = {char(n >> 24), char((n >> 16) & 0xff), char((n >> 8) & 0xff), char(n & 0xff)};
    return QByteArray(head, 4) + payload;
}

QByteArray answerMap(std::initializer_list<std::pair<const char *, QCborValue>> fields)
{
    QCborMap m{{QLatin1StringView("id"), 7}, {QLatin1StringView("user"), QStringLiteral("b2")},
               {QLatin1StringView("kind"), int(FrameKind::Data)}, {QLatin1StringView("data"), QByteArray("x")}};
    for (const auto &[key, value] : fields)
        m.insert(QLatin1StringView(key), value);
    return m.toCborValue().toCbor();
}

} // namespace

class TestWorkerProtocol : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("status");   // of a failure: the HTTP status its kind answers
        WorkerAnswer end;
        end.id = 7;
        end.user = QStringLiteral("b2");
        end.kind = FrameKind::End;
        end.rows = 7387;
        end.totals = QStringLiteral("合计：消费金额 1.00");
        QTest::newRow("end of the answer") << framed(end.Encode()) << Fault::None << 0;
        // A run stopped on the service's side may be tried again; only a fault of ours is a 500.
        using K = Vel::ErrorKind;
        for (const auto &[kind, status] : {std::pair{K::BadFilter, 400}, {K::NotFound, 404}, {K::Timeout, 504}, {K::Cancelled, 503},
                                           {K::Unavailable, 503}, {K::Internal, 500}})
            QTest::addRow("failure of kind %d", int(kind))
                << framed(WorkerAnswer::Failed({.id = 7, .user = QStringLiteral("b2")}, kind, QStringLiteral("失败")).Encode())
                << Fault::None << status;
        QTest::newRow("another request's id") << framed(answerMap({{"id", 6}})) << Fault::OutOfTurn << 0;
        QTest::newRow("another user") << framed(answerMap({{"user", QStringLiteral("boss")}})) << Fault::OutOfTurn << 0;
        QTest::newRow("no id") << framed(answerMap({{"id", QCborValue()}})) << Fault::Malformed << 0;
        QTest::newRow("not CBOR") << framed("{\"status\":200}") << Fault::Malformed << 0;
        QTest::newRow("an array") << framed(QCborArray{7, 3}.toCborValue().toCbor()) << Fault::Malformed << 0;
        QTest::newRow("unknown frame kind") << framed(answerMap({{"kind", 9}})) << Fault::Malformed << 0;
        QTest::newRow("unknown error kind") << framed(answerMap({{"kind", 4}, {"error", 99}})) << Fault::Malformed << 0;
        QTest::newRow("data as text") << framed(answerMap({{"data", QStringLiteral("x")}})) << Fault::Malformed << 0;
        QTest::newRow("bytes after the map") << framed(answerMap({}) + '\0') << Fault::Malformed << 0;
        QTest::newRow("over the frame limit") << framed({}, WorkerProtocol::MaxAnswerFrame + 1) << Fault::TooLarge << 0;
        QTest::newRow("cut short") << framed(answerMap({}), 100) << Fault::Closed << 0;
    }
    void answers()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Fault, fault);
        QFETCH(int, status);
        int pipe[2];
        QVERIFY(::pipe(pipe) == 0);
        QCOMPARE(::write(pipe[1], bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(pipe[1]);
        WorkerRequest request;
        request.id = 7;
        request.user = QStringLiteral("b2");
        Fault found = Fault::None;
        const auto answer = WorkerProtocol::ReadAnswer(pipe[0], request, found);
        ::close(pipe[0]);
        QCOMPARE(found, fault);
        QCOMPARE(answer.has_value(), fault == Fault::None);
        if (answer)
            QCOMPARE(answer->Encode(), bytes.mid(4));
        if (answer && answer->kind == FrameKind::Failure)
            QCOMPARE(WorkerProtocol::StatusOf(answer->error), status);
    }

    // Raw bytes a client sends: what is refused before any worker sees them.
    void bodies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("refused");
        QTest::newRow("JSON over lines") << QByteArray("{\r\n\t\"VipName\": \"张三\"\n}") << false;
        QTest::newRow("raw 0x01") << QByteArray("{\"BDeptNumber\":\"") + QByteArray(60000, '\1') + "\"}" << true;
        QTest::newRow("raw NUL") << QByteArray("{\"VipName\":\"a\0b\"}", 17) << true;
        QTest::newRow("DEL") << QByteArray("{\"VipName\":\"\x7f\"}") << true;
        QTest::newRow("not UTF-8") << QByteArray("{\"VipName\":\"\xe5\xbc\"}") << true;
        QTest::newRow("over the limit") << QByteArray(WorkerProtocol::MaxBody + 1, ' ') << true;
    }
    void bodies()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, refused);
        QCOMPARE(!WorkerProtocol::BodyProblem(body).isEmpty(), refused);
    }
};

QTEST_GUILESS_MAIN(TestWorkerProtocol)
#include "tst_worker_protocol.moc"
