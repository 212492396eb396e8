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

const VersionRecord& ProgramVersion();

// Sets the title (the caption of every plain message box), the version, the organisation, the
// version record's names as application properties, and the application icon. Needs the
// QApplication to exist.
void ConfigureApplication();

} // namespace vornel::app
