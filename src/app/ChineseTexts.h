#pragma once
// Qt's own texts (message box buttons, the file chooser, the web panel's menus) in Chinese,
// whatever the user's locale: the program speaks Chinese throughout.

namespace vornel::app {

// Before the QApplication exists: asks the web engine for the Chinese locale of its own texts
// (form messages, error pages), adding to any engine flags the user set.
void PrepareChineseWebEngine();

// After the QApplication exists: installs Qt's Chinese catalogues (its widgets and dialogs, and
// the web panel's menu). False when Qt's base catalogue is missing: its texts then stay English.
bool InstallChineseTexts();

// Pages of the web panel are asked for in Chinese.
void AskForChinesePages();

} // namespace vornel::app
