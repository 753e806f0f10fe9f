#pragma once

#include "facade/IQueryReport.h"
#include "progress/Bar.h"
#include "progress/frmProgBar.h"

#include "Dictionary.h"
#include "Recordset.h"
#include "Vector.h"

#include <QTimer>

// Runs a report's GetRptList inside a shown progress window, as the facade does, and records
// what the caller would see.
struct ReportRun
{
    VectorPtr header = Vector::Create();
    RecordsetPtr rs = Recordset::Create();
    DictionaryPtr result = Dictionary::Create();
    RecordsetPtr callerRs = rs;
    bool windowLeftOpen = false;
    QString messageAtClose;

    void run(IQueryReport &report)
    {
        Bar bar;
        bool ran = false;
        QObject::connect(&bar, &Bar::Active, &bar, [&] {
            if (ran)
                return;
            ran = true;
            QObject::connect(bar.Window(), &QDialog::finished, bar.Window(),
                             [this, w = bar.Window()] { messageAtClose = w->Message(); });
            report.GetRptList(header, &bar, rs, result);
            windowLeftOpen = bar.IsShown();
            if (windowLeftOpen)
                bar.Unload();
        });
        QTimer::singleShot(10000, &bar, [&] { if (bar.IsShown()) bar.Unload(); });
        bar.Show();
    }

    QStringList captions() const { return column(QStringLiteral("FColCaption")); }
    QStringList hiddenFields() const
    {
        QStringList out;
        for (int i = 0; i < header->Count(); ++i)
            if (header->DictionaryAt(i)->Value(QStringLiteral("FVisible")).toInt() == 0)
                out << header->DictionaryAt(i)->Value(QStringLiteral("FColName")).toString();
        return out;
    }

private:
    QStringList column(const QString &key) const
    {
        QStringList out;
        for (int i = 0; i < header->Count(); ++i)
            out << header->DictionaryAt(i)->Value(key).toString();
        return out;
    }
};
