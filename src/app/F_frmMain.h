#pragma once
// The main window: the background picture, the web panel, the drive list, the mode buttons,
// the five bitmap buttons, the wait picture and text, and the busy state that the make and
// restore operations enter and leave.

#include "app/ProgressPanel.h"
#include "app/waitpicture/WaitPicture.h"
#include "app/webpanel/WebPanel.h"
#include "builder/Operations.h"
#include "controls/BmpButton.h"
#include "platform/Drives.h"

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

namespace vornel::app {

// What the window takes from the program's start-up; tests give their own.
struct MainWindowSetup {
    std::string dataFolder;                   // with its trailing "/"
    QString remoteStartPage;                  // the web panel's remote page
    platform::DriveQueries* drives = nullptr; // the drive scan's queries; must outlive the window
    std::function<std::string()> tempFolder;  // where the work folder goes (default: platform::TempPath)
    builder::CommandRunner runTool;           // runs one disk tool command (default: RunAndWait)
    std::string logFolder;                    // where the operations leave their logs; none when empty
};

// The setup of the running program: the executable's folder + "data/", the built-in remote
// start page, the given drive queries, and the user's cache folder + "/vornel/" for the logs.
MainWindowSetup ProgramSetup(platform::DriveQueries& drives);

class TfrmMain : public QWidget {
    Q_OBJECT
  public:
    // Builds every control of the layout, then runs FormCreate.
    explicit TfrmMain(const MainWindowSetup& setup, QWidget* parent = nullptr);

    // The controls, named as the layout names them.
    QImage img_back;
    WebPanel* wbMain = nullptr;
    controls::TBmpButton* btn_make = nullptr;
    controls::TBmpButton* btn_config = nullptr;
    controls::TBmpButton* btn_clean = nullptr;
    controls::TBmpButton* btn_close = nullptr;
    controls::TBmpButton* btn_min = nullptr;
    QTimer* tmr = nullptr;
    QComboBox* cbb_disk = nullptr;
    QRadioButton* rb_hdd = nullptr;
    QRadioButton* rb_zip = nullptr;
    WaitPicture* img_wait = nullptr;
    QLabel* lbl_wait = nullptr;
    ProgressPanel* pnl_progress = nullptr; // the disk tool's progress, under the wait picture

    bool Busy() const { return FBusy; }
    const QString& StartPage() const { return FStartPage; }
    // The folder of the package, the custom item list and the web panel's local files.
    const std::string& DataFolder() const { return FDataFolder; }

    // Enters (true) or leaves (false) the busy state.
    void SetBusy(bool busy);
    // Leaves canClose true unless an operation is running.
    void FormCloseQuery(bool& canClose);
    // Rebuilds the drive list from a fresh scan.
    void ScanUsbDisks();

    void btn_minClick();
    void btn_closeClick();
    void tmrTimer();
    void FormShow();
    void btn_makeClick();
    void btn_cleanClick();
    void btn_configClick();
    // The extraction's progress handler: keeps the window serviced, never cancels.
    void PackageProgress();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildLayout();
    void ConnectHandlers();
    void FormCreate(const MainWindowSetup& setup);
    void img_backMouseDown();
    void CentreOnDesktop();

    // What the operations take from the window (builder::OperationEnvironment).
    builder::OperationEnvironment Environment() const;

    bool FBusy = false;
    QString FStartPage;
    std::string FDataFolder;
    platform::DriveQueries* FDrives = nullptr;
    std::function<std::string()> FTempFolder;
    builder::CommandRunner FRunTool;
    std::string FLogFolder;
    bool FCentred = false;
};

} // namespace vornel::app
