#include "HostKit.h"

#include "VelError.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

void CollectingErrorReporter::ShowError(const VelError &error)
{
    m_messages.append(error.Description());
}

void StderrErrorReporter::ShowMessage(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

void StderrErrorReporter::ShowError(const VelError &error)
{
    ShowMessage(error.Description());
}

void MessageBoxErrorReporter::ShowMessage(const QString &text)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        StderrErrorReporter().ShowMessage(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, m_caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void MessageBoxErrorReporter::ShowError(const VelError &error)
{
    ShowMessage(error.Description());
}
