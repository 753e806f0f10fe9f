#pragma once

#include <QString>

// The platform for windows a person must see. Some Qt platforms abort the program when their
// display does not answer ("Reinstalling the application may fix this problem"); a host asks
// here first and ends with one sentence instead.
namespace GuiPlatform {

// Before the application object: picks QT_QPA_PLATFORM's first choice or the desktop's, with
// the offscreen platform as the last resort. Returns why no window could be seen, or empty.
QString Prepare();

// After the application object: why the platform Qt fell back to shows nothing, or empty.
QString Check();

// "<program>: <what>需要图形界面（<why>）" on stderr; returns 2.
int Refuse(const char *program, const QString &what, const QString &why);

// A display to draw on, or the offscreen platform when there is none (pictures are grabbed
// from the widgets either way).
void PrepareOffscreenFallback();

} // namespace GuiPlatform
