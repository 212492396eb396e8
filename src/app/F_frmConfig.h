#pragma once
// The custom boot item dialog: the user keeps the list of own boot images here. The rows of
// lv_menu are the working copy; the list file is read when the dialog is made and written
// whole on OK. Cancel and the close box discard the changes.

#include "bootitems/IsoList.h"

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace vornel::app {

class TfrmConfig : public QDialog {
    Q_OBJECT
  public:
    // The image file chooser: the chosen file's full path, or nothing when the user cancels.
    using ImageChooser = std::function<std::optional<std::string>(QWidget* parent)>;

    // `dataFolder` holds the list file and ends in "/"; the dialog is centred on `owner`.
    TfrmConfig(const std::string& dataFolder, QWidget* owner);

    // The rows as items, first to last.
    std::vector<bootitems::TISOFileInfo> Rows() const;

    // The controls, by the names the dialog gives them.
    QGroupBox* grp_add;
    QLabel* lbl1;
    QLineEdit* edt_title;
    QLabel* lbl2;
    QLineEdit* edt_iso;
    QPushButton* btn_selectiso;
    QPushButton* btn_add;
    QLabel* lbl3;
    QTableWidget* lv_menu;
    QPushButton* btn_delete;
    QPushButton* btn_ok;
    QPushButton* btn_cancel;
    // The open-file dialog; replaceable so tests can answer it.
    ImageChooser dlgOpen;

    // The filter of the default chooser: one entry for *.img and *.iso.
    static QString ImageFilter();

    void FormCreate();
    void btn_selectisoClick();
    void btn_addClick();
    void btn_deleteClick();
    void btn_okClick();
    void btn_cancelClick();

  protected:
    // The dialog has no cancel key: Escape does not close it.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildLayout();
    void AppendRow(const bootitems::TISOFileInfo& item);
    void KeepTitleWhole(QTableWidgetItem* cell);

    std::string listPath_;
};

// The chooser the dialog uses unless told otherwise: an open-file dialog with ImageFilter() that
// also accepts a typed name of a file that does not exist.
std::optional<std::string> ChooseImageFile(QWidget* parent);

} // namespace vornel::app
