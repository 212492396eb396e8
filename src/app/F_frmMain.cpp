#include "app/F_frmMain.h"

#include "app/Application.h"
#include "app/F_frmConfig.h"
#include "builder/RunAndWait.h"
#include "controls/Messages.h"
#include "drives/DriveList.h"
#include "platform/Files.h"

#include <QApplication>

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>
#include <initializer_list>

namespace vornel::app {

MainWindowSetup ProgramSetup(platform::DriveQueries& drives) {
    return {platform::ExecutableFolder() + "data/",
            QStringLiteral(VORNEL_START_PAGE),
            &drives,
            platform::TempPath,
            builder::RunAndWait,
            platform::UserFolder("XDG_CACHE_HOME", ".cache") + "/vornel/"};
}

namespace {

// The make and restore operations see the window through this.
class WindowHost final : public builder::OperationHost {
  public:
    explicit WindowHost(TfrmMain& window) : window_(window) {}
    std::string SelectedDriveText() override { return window_.cbb_disk->currentText().toStdString(); }
    bool ZipModeSelected() override { return window_.rb_zip->isChecked(); }
    void SetBusy(bool busy) override { window_.SetBusy(busy); }
    void ShowMessage(const std::string& text) override {
        controls::Messages().ShowMessage(&window_, QString::fromStdString(text));
    }
    bool ConfirmWarning(const std::string& text) override {
        return controls::Messages().ConfirmWarning(&window_, QString::fromStdString(text));
    }
    void ProcessEvents() override { window_.PackageProgress(); }
    void ShowProgress(const progress::ProgressView& view) override { window_.pnl_progress->Show(view); }
    void HideProgress() override { window_.pnl_progress->hide(); }
    // The event loop ends once the running handler has returned.
    void Terminate() override { QCoreApplication::exit(0); }

  private:
    TfrmMain& window_;
};

} // namespace

TfrmMain::TfrmMain(const MainWindowSetup& setup, QWidget* parent)
    : QWidget(parent), FDrives(setup.drives),
      FTempFolder(setup.tempFolder ? setup.tempFolder : platform::TempPath),
      FRunTool(setup.runTool ? setup.runTool : builder::RunAndWait), FLogFolder(setup.logFolder) {
    BuildLayout();
    ConnectHandlers();
    controls::Guarded(this, [&] { FormCreate(setup); });
}

void TfrmMain::ConnectHandlers() {
    const auto bind = [this](controls::TBmpButton* button, void (TfrmMain::*handler)()) {
        connect(button, &controls::TBmpButton::OnClick, this,
                [this, handler] { controls::Guarded(this, [&] { (this->*handler)(); }); });
    };
    bind(btn_make, &TfrmMain::btn_makeClick);
    bind(btn_config, &TfrmMain::btn_configClick);
    bind(btn_clean, &TfrmMain::btn_cleanClick);
    bind(btn_close, &TfrmMain::btn_closeClick);
    bind(btn_min, &TfrmMain::btn_minClick);
    connect(tmr, &QTimer::timeout, this, [this] { controls::Guarded(this, [this] { tmrTimer(); }); });
}

void TfrmMain::FormCreate(const MainWindowSetup& setup) {
    FBusy = false;
    FDataFolder = setup.dataFolder;
    const QString dataFolder = QString::fromStdString(FDataFolder);
    // A failure to open the start page is reported, but the window still leaves the busy look:
    // stopping here would leave the wait text showing over an idle window.
    controls::Guarded(this, [&] {
        FStartPage = WebPanel::ChooseStartPage(setup.remoteStartPage, dataFolder);
        wbMain->OpenStartPage(FStartPage);
    });
    const std::string waitPicture = FDataFolder + "Res/wait.gif";
    if (platform::FileExists(waitPicture)) {
        try {
            img_wait->LoadFile(QString::fromStdString(waitPicture));
        } catch (...) {
            // A picture that cannot be loaded stays empty, without a word.
        }
    }
    SetBusy(false);
}

void TfrmMain::SetBusy(bool busy) {
    FBusy = busy;
    for (QWidget* control :
         std::initializer_list<QWidget*>{cbb_disk, btn_make, btn_config, btn_clean, btn_close})
        control->setEnabled(!busy);
    img_wait->setVisible(busy);
    lbl_wait->setVisible(busy);
    // Starting the timer again restarts its period: the next scan comes a full period later.
    if (busy)
        tmr->stop();
    else
        tmr->start();
}

void TfrmMain::FormCloseQuery(bool& canClose) {
    if (FBusy) {
        controls::Messages().ShowMessage(this, QStringLiteral("正在制作中，请不要退出本程序！"));
        canClose = false;
    }
}

void TfrmMain::ScanUsbDisks() {
    if (!FDrives)
        return;
    std::vector<std::string> current;
    for (int i = 0; i < cbb_disk->count(); ++i)
        current.push_back(cbb_disk->itemText(i).toStdString());
    const drives::DriveListItems list = drives::ScanDriveList(*FDrives, current, cbb_disk->currentIndex());
    // Rebuilding an unchanged list would close the list while the user has it open.
    if (list.items != current) {
        cbb_disk->clear();
        for (const std::string& item : list.items)
            cbb_disk->addItem(QString::fromStdString(item));
    }
    cbb_disk->setCurrentIndex(list.selectedIndex);
}

void TfrmMain::img_backMouseDown() {
    if (QWindow* handle = windowHandle())
        handle->startSystemMove();
}

void TfrmMain::btn_minClick() {
    showMinimized();
}

void TfrmMain::btn_closeClick() {
    close();
}

void TfrmMain::tmrTimer() {
    ScanUsbDisks();
}

void TfrmMain::FormShow() {
    ScanUsbDisks();
}

builder::OperationEnvironment TfrmMain::Environment() const {
    return {FDataFolder, FTempFolder, FDrives,
            FRunTool,    FLogFolder,  ProgramVersion().fileVersion.toStdString()};
}

void TfrmMain::btn_makeClick() {
    WindowHost host(*this);
    builder::MakeBootDisk(host, Environment());
}

void TfrmMain::btn_cleanClick() {
    WindowHost host(*this);
    builder::RestoreSpace(host, Environment());
}

void TfrmMain::btn_configClick() {
    TfrmConfig frmConfig(FDataFolder, this);
    frmConfig.exec();
}

void TfrmMain::PackageProgress() {
    QCoreApplication::processEvents();
}

void TfrmMain::paintEvent(QPaintEvent*) {
    QPainter(this).drawImage(0, 0, img_back);
}

void TfrmMain::mousePressEvent(QMouseEvent*) {
    // Any mouse button on the background drags the window.
    controls::Guarded(this, [this] { img_backMouseDown(); });
}

void TfrmMain::CentreOnDesktop() {
    if (const QScreen* desktop = screen())
        move(desktop->geometry().center() - rect().center());
}

void TfrmMain::showEvent(QShowEvent* event) {
    if (!FCentred) {
        FCentred = true;
        CentreOnDesktop();
    }
    // A window restored from the taskbar is not shown anew.
    if (!event->spontaneous())
        controls::Guarded(this, [this] { FormShow(); });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    controls::Guarded(this, [&] { FormCloseQuery(canClose); });
    event->setAccepted(canClose);
}

} // namespace vornel::app
