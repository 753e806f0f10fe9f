#pragma once

#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "Recordset.h"
#include "ServerData.h"
#include "VelError.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <new>

// What the fake server received.
struct FakeServerLog
{
    int calls = 0;
    qint32 rptId = 0;
    QString propsString;
    qint32 lookupType = 0;   // the last lookup's type and condition
    QString condition;
    QVariant endDateSeen;   // the filter's "EDate" at the moment of the request
    DictionaryPtr filterSeen;
    RecordsetPtr rowsGiven;
    DictionaryPtr filterGiven;
};

// A stand-in for "VelMVipRpt.GLData" that records what it receives and answers as told
// (Throw fails lookups too; they list two POS machines).
class FakeServerData : public QObject, public IServerData
{
    Q_OBJECT
    Q_INTERFACES(IServerData)

public:
    enum class Answer { Rows, Throw, Empty, ReplaceFilter, OutOfMemory };


    static inline Answer answer = Answer::Rows;
    using Log = FakeServerLog;
    static inline Log log;
    // Runs inside every request, before the answer (e.g. to disturb the progress window).
    static inline std::function<void()> duringRequest;
    static inline std::atomic<bool> interrupted{false};

    static void Install(Answer how = Answer::Rows)
    {
        answer = how;
        log = Log();
        duringRequest = nullptr;
        interrupted = false;
        ComponentRegistry::Instance().Register(QString::fromLatin1(Vel::ServerDataProgId),
                                               [] { return new FakeServerData; });
    }
    static void Uninstall() { ComponentRegistry::Instance().Unregister(QString::fromLatin1(Vel::ServerDataProgId)); }

    void SetRptID(qint32 rptId) override { m_rptId = rptId; }
    qint32 RptID() const override { return m_rptId; }

    QVariant GetRptData(const QString &propsString, DictionaryPtr &filter) override
    {
        ++log.calls;
        log.rptId = m_rptId;
        log.propsString = propsString;
        log.filterSeen = filter;
        log.endDateSeen = filter ? filter->Value(QStringLiteral("EDate")) : QVariant();
        if (duringRequest)
            duringRequest();
        switch (answer) {
        case Answer::Throw:
            throw VelError(QStringLiteral("数据库连接失败"), 1001, QStringLiteral("GLData"));
        case Answer::OutOfMemory:
            throw std::bad_alloc();
        case Answer::Empty:
            return QVariant();
        case Answer::ReplaceFilter: {
            DictionaryPtr replacement = Dictionary::Create();
            for (const QString &key : filter->Keys())
                replacement->SetValue(key, filter->Value(key));
            replacement->SetValue(QStringLiteral("Server"), true);
            filter = replacement;
            log.filterGiven = replacement;
            break;
        }
        case Answer::Rows:
            break;
        }
        RecordsetPtr rows = Recordset::Create();
        rows->AddField(QStringLiteral("FNumber"), Recordset::FieldType::Text);
        rows->Open();
        const qint64 row = rows->AddRow();
        rows->SetText(row, 0, u"A01");
        log.rowsGiven = rows;
        return Vel::ToVariant(rows);
    }

    void Interrupt() override { interrupted = true; }

    RecordsetPtr GetLookupList(const QString &propsString, qint32 lookupType, const QString &condition,
                               const QString &searchText, qint32) override
    {
        log.propsString = propsString;
        log.lookupType = lookupType;
        log.condition = condition;
        if (answer == Answer::Throw)
            throw VelError(QStringLiteral("Cannot connect to the database server"));
        auto rs = Recordset::Create();
        rs->AddField(QStringLiteral("FNumber"), Recordset::FieldType::Text);
        rs->AddField(QStringLiteral("FName"), Recordset::FieldType::Text);
        rs->Open();
        for (const auto &[code, name] : {std::pair{u"P01", u"一号机"}, std::pair{u"P02", u"二号机"}}) {
            if (!searchText.isEmpty() && !QStringView(code).contains(searchText))
                continue;
            const qint64 r = rs->AddRow();
            rs->SetText(r, 0, code);
            rs->SetText(r, 1, name);
        }
        return rs;
    }

private:
    qint32 m_rptId = 0;
};
