#pragma once
// Qt's own texts (the save dialog, message box buttons) in Polish, as the rest of the window.
class QCoreApplication;

// Loads Qt's Polish translations when they are installed; false when they are not.
bool InstallQtTranslations(QCoreApplication& app);
