#pragma once
// The application object's identity: title, version and the names of the version record.

#include <QString>

namespace vornel::app {

struct VersionRecord {
    QString companyName;
    QString fileVersion;
    QString productName;
    QString productVersion;
    QString comments;
};

// The version comes from the build's one place, the project's version.
const VersionRecord& ProgramVersion();

// The launcher org.vornel.Vornel.desktop, without its extension.
inline constexpr const char* kDesktopFileName = "org.vornel.Vornel";

// Sets the title (the caption of every plain message box), the version, the organisation, the
// version record's names as application properties, the application icon and the launcher's
// name; installs Qt's Chinese texts and keeps its dialogs Qt-drawn. Needs the QApplication.
void ConfigureApplication();

} // namespace vornel::app
