#pragma once

#include <QObject>

// A filter-dialog contract that is published but implemented by no class; its members do nothing.
class IReportFilter : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE explicit IReportFilter(QObject *parent = nullptr);
    ~IReportFilter() override;

    Q_INVOKABLE virtual bool CheckFilter();
    Q_INVOKABLE virtual void InitControls();
};
