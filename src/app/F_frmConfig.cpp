#include "app/F_frmConfig.h"

#include "controls/Messages.h"
#include "failure/ChineseText.h"
#include "platform/Files.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

namespace vornel::app {

using bootitems::TISOFileInfo;

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, QRect geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setGeometry(geometry);
    return edit;
}

// The buttons never take the keyboard focus, and none is a default button: Enter in an edit
// does nothing.
QPushButton* MakeButton(QWidget* parent, const char* text, QRect geometry) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

bool HasLineBreak(const QString& text) {
    return text.contains(QChar('\r')) || text.contains(QChar('\n'));
}

// What a title keeps of typed or pasted text: its first line, without "|". A line break would
// split its item in two in the list file, a "|" would end the title there and move the rest
// into the path.
QString AsTitle(const QString& text) {
    qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    QString title = end < 0 ? text : text.left(end);
    return title.remove(QChar('|'));
}

// A row keeps the item it shows, bytes and all, so an item left alone is saved as it was read.
constexpr int kItemRole = Qt::UserRole;

QVariant StoredItem(const TISOFileInfo& item) {
    return QVariantList{QByteArray::fromStdString(item.Title), QByteArray::fromStdString(item.ImagePath),
                        QByteArray::fromStdString(item.SourceLine)};
}

TISOFileInfo ItemOf(const QTableWidgetItem& titleCell) {
    const QVariantList stored = titleCell.data(kItemRole).toList();
    TISOFileInfo item{stored.value(0).toByteArray().toStdString(),
                      stored.value(1).toByteArray().toStdString(),
                      stored.value(2).toByteArray().toStdString()};
    // A title edited in place replaces the one read.
    if (titleCell.text() != FromUtf8(item.Title))
        item.Title = titleCell.text().toStdString();
    return item;
}

} // namespace

TfrmConfig::TfrmConfig(const std::string& dataFolder, QWidget* owner)
    : QDialog(owner), dlgOpen(ChooseImageFile), listPath_(bootitems::IsoListPath(dataFolder)) {
    BuildLayout();
    controls::Guarded(this, [this] { FormCreate(); });
}

void TfrmConfig::BuildLayout() {
    setWindowTitle(QStringLiteral("启动项高级管理（仅供专业人士使用）"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(512, 241);
    QFont font;
    // Qt takes the first family that is installed; the CJK fallback keeps the texts readable.
    font.setFamilies(
        {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(14);
    setFont(font);

    grp_add = new QGroupBox(QStringLiteral("自定义选项"), this);
    grp_add->setGeometry(8, 16, 217, 169);
    lbl1 = MakeLabel(grp_add, "菜单名称：", 16, 24);
    edt_title = MakeEdit(grp_add, QRect(16, 40, 169, 22));
    lbl2 = MakeLabel(grp_add, "ISO文件路径：", 16, 64);
    edt_iso = MakeEdit(grp_add, QRect(16, 84, 169, 22));
    edt_iso->setReadOnly(true);
    btn_selectiso = MakeButton(grp_add, "...", QRect(188, 82, 23, 22));
    btn_add = MakeButton(grp_add, ">> 添加", QRect(50, 120, 103, 33));

    lbl3 = MakeLabel(this, "启动菜单项", 248, 16);
    lv_menu = new QTableWidget(0, 2, this);
    lv_menu->setGeometry(248, 32, 257, 153);
    lv_menu->setHorizontalHeaderLabels({QStringLiteral("启动项菜单名"), QStringLiteral("镜像文件路径")});
    lv_menu->horizontalHeader()->setStretchLastSection(false);
    lv_menu->horizontalHeader()->setSectionsClickable(false);
    lv_menu->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lv_menu->horizontalHeader()->resizeSection(0, 100);
    lv_menu->horizontalHeader()->resizeSection(1, 140);
    lv_menu->verticalHeader()->hide();
    // Rows as tight as a list view's, not the taller default of a table.
    lv_menu->verticalHeader()->setMinimumSectionSize(1);
    lv_menu->verticalHeader()->setDefaultSectionSize(lv_menu->fontMetrics().height() + 4);
    lv_menu->setShowGrid(false);
    lv_menu->setWordWrap(false);
    lv_menu->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv_menu->setSelectionMode(QAbstractItemView::SingleSelection);
    // As in a list view: a click on the selected row's title, or F2, edits the title in place.
    lv_menu->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    // Tab leaves the list instead of walking its cells.
    lv_menu->setTabKeyNavigation(false);

    btn_delete = MakeButton(this, "删除", QRect(440, 8, 65, 22));
    btn_ok = MakeButton(this, "确  定", QRect(112, 200, 97, 33));
    btn_cancel = MakeButton(this, "取  消", QRect(280, 200, 97, 33));

    setTabOrder(edt_title, edt_iso);
    setTabOrder(edt_iso, lv_menu);

    auto bind = [this](QPushButton* button, void (TfrmConfig::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { controls::Guarded(this, [&] { (this->*handler)(); }); });
    };
    bind(btn_selectiso, &TfrmConfig::btn_selectisoClick);
    bind(btn_add, &TfrmConfig::btn_addClick);
    bind(btn_delete, &TfrmConfig::btn_deleteClick);
    bind(btn_ok, &TfrmConfig::btn_okClick);
    bind(btn_cancel, &TfrmConfig::btn_cancelClick);
    connect(edt_title, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (AsTitle(text) != text)
            edt_title->setText(AsTitle(text));
    });
    connect(lv_menu, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* cell) { KeepTitleWhole(cell); });
}

QString TfrmConfig::ImageFilter() {
    return QStringLiteral("镜像文件 (*.img *.iso)");
}

std::vector<TISOFileInfo> TfrmConfig::Rows() const {
    std::vector<TISOFileInfo> rows;
    for (int row = 0; row < lv_menu->rowCount(); ++row)
        rows.push_back(ItemOf(*lv_menu->item(row, 0)));
    return rows;
}

void TfrmConfig::AppendRow(const TISOFileInfo& item) {
    int row = lv_menu->rowCount();
    lv_menu->insertRow(row);
    auto* title = new QTableWidgetItem(FromUtf8(item.Title));
    title->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
    title->setData(kItemRole, StoredItem(item));
    auto* path = new QTableWidgetItem(FromUtf8(item.ImagePath));
    path->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    lv_menu->setItem(row, 0, title);
    lv_menu->setItem(row, 1, path);
}

void TfrmConfig::KeepTitleWhole(QTableWidgetItem* cell) {
    if (cell->column() == 0 && AsTitle(cell->text()) != cell->text())
        cell->setText(AsTitle(cell->text()));
}

void TfrmConfig::FormCreate() {
    if (!platform::FileExists(listPath_))
        return;
    for (const auto& item : bootitems::ReadIsoList(listPath_))
        AppendRow(item);
}

void TfrmConfig::btn_selectisoClick() {
    if (auto chosen = dlgOpen(this))
        edt_iso->setText(FromUtf8(*chosen));
}

void TfrmConfig::btn_addClick() {
    const QString title = edt_title->text();
    const QString path = edt_iso->text();
    // A path with a line break cannot be kept in the one-line-per-item list file.
    if (title.isEmpty() || path.isEmpty() || HasLineBreak(path) || !platform::FileExists(path.toStdString()))
        return;
    if (!bootitems::PathFitsCommandLine(path.toStdString())) {
        const failure::Failure refused(failure::Kind::ImagePathRefused, path.toStdString());
        controls::Messages().ShowMessage(this, QString::fromStdString(failure::ChineseText(refused)));
        return;
    }
    AppendRow({title.toStdString(), path.toStdString()});
}

void TfrmConfig::btn_deleteClick() {
    const QModelIndexList selected = lv_menu->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    lv_menu->removeRow(selected.first().row());
    lv_menu->clearSelection();
}

void TfrmConfig::btn_okClick() {
    bootitems::WriteIsoList(listPath_, Rows());
    accept();
}

void TfrmConfig::btn_cancelClick() {
    reject();
}

void TfrmConfig::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

std::optional<std::string> ChooseImageFile(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setNameFilter(TfrmConfig::ImageFilter());
    // AnyFile: a typed name of a file that does not exist is accepted, too.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The platform's own dialogs may refuse a name that does not exist.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

} // namespace vornel::app
