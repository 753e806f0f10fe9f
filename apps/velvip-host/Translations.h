#pragma once

// Loads Qt's own Simplified Chinese translations, so that standard dialogs and buttons
// (file dialogs, message boxes) say 保存/取消. Returns false when they are not installed.
bool InstallQtTranslations();
