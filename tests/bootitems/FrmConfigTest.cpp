#include "bootitems/F_frmConfig.h"

#include "FileSizeLimit.h"
#include "builder/TempFolder.h"
#include "support/RecordingMessages.h"

#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using vornel::bootitems::TfrmConfig;
using vornel::test::ReadBytes;
using vornel::test::RecordingMessages;
using vornel::test::TempFolder;
using vornel::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

class FrmConfigTest : public ::testing::Test {
  protected:
    FrmConfigTest() {
        owner.setGeometry(100, 100, 800, 600);
        WriteBytes(folder.path() / "a.iso", "iso");
        WriteBytes(folder.path() / "b.img", "img");
    }

    std::string ListPath() const { return (folder.path() / "isolist").string(); }
    std::string ImagePath(const char* name) const { return (folder.path() / name).string(); }

    std::unique_ptr<TfrmConfig> Open() {
        auto dialog = std::make_unique<TfrmConfig>(folder.slashed(), &owner);
        dialog->show();
        return dialog;
    }

    // Types a title and picks a file through the chooser, as the user would.
    static void Fill(TfrmConfig& dialog, const QString& title, const std::string& path) {
        dialog.edt_title->setText(title);
        dialog.dlgOpen = [path](QWidget*) { return std::optional<std::string>(path); };
        dialog.btn_selectiso->click();
    }

    static std::vector<std::pair<QString, QString>> RowTexts(const TfrmConfig& dialog) {
        std::vector<std::pair<QString, QString>> rows;
        for (int row = 0; row < dialog.lv_menu->rowCount(); ++row)
            rows.emplace_back(dialog.lv_menu->item(row, 0)->text(), dialog.lv_menu->item(row, 1)->text());
        return rows;
    }

    RecordingMessages messages;
    TempFolder folder;
    QWidget owner;
};

using Rows = std::vector<std::pair<QString, QString>>;

// The next widget that Tab moves to.
QWidget* NextTabStop(QWidget* widget) {
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !((next->focusPolicy() & Qt::TabFocus) && next->isEnabled()))
        next = next->nextInFocusChain();
    return next;
}

} // namespace

TEST_F(FrmConfigTest, LayoutTextsAndSettings) {
    auto dialog = Open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("启动项高级管理（仅供专业人士使用）"));
    EXPECT_EQ(dialog->size(), QSize(512, 241));
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(dialog->font().pixelSize(), 14);

    EXPECT_EQ(dialog->grp_add->geometry(), QRect(8, 16, 217, 169));
    EXPECT_EQ(dialog->grp_add->title(), QStringLiteral("自定义选项"));
    EXPECT_EQ(dialog->lbl1->parentWidget(), dialog->grp_add);
    EXPECT_EQ(dialog->lbl1->pos(), QPoint(16, 24));
    EXPECT_EQ(dialog->lbl1->text(), QStringLiteral("菜单名称："));
    EXPECT_EQ(dialog->edt_title->geometry(), QRect(16, 40, 169, 22));
    EXPECT_EQ(dialog->lbl2->pos(), QPoint(16, 64));
    EXPECT_EQ(dialog->lbl2->text(), QStringLiteral("ISO文件路径："));
    EXPECT_EQ(dialog->edt_iso->geometry(), QRect(16, 84, 169, 22));
    EXPECT_TRUE(dialog->edt_iso->isReadOnly());
    EXPECT_EQ(dialog->btn_selectiso->geometry(), QRect(188, 82, 23, 22));
    EXPECT_EQ(dialog->btn_selectiso->text(), QStringLiteral("..."));
    EXPECT_EQ(dialog->btn_add->geometry(), QRect(50, 120, 103, 33));
    EXPECT_EQ(dialog->btn_add->text(), QStringLiteral(">> 添加"));
    EXPECT_EQ(dialog->lbl3->parentWidget(), dialog.get());
    EXPECT_EQ(dialog->lbl3->pos(), QPoint(248, 16));
    EXPECT_EQ(dialog->lbl3->text(), QStringLiteral("启动菜单项"));
    EXPECT_EQ(dialog->lv_menu->geometry(), QRect(248, 32, 257, 153));
    EXPECT_EQ(dialog->btn_delete->geometry(), QRect(440, 8, 65, 22));
    EXPECT_EQ(dialog->btn_delete->text(), QStringLiteral("删除"));
    EXPECT_EQ(dialog->btn_ok->geometry(), QRect(112, 200, 97, 33));
    EXPECT_EQ(dialog->btn_ok->text(), QStringLiteral("确  定"));
    EXPECT_EQ(dialog->btn_cancel->geometry(), QRect(280, 200, 97, 33));
    EXPECT_EQ(dialog->btn_cancel->text(), QStringLiteral("取  消"));

    QTableWidget* list = dialog->lv_menu;
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("启动项菜单名"));
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral("镜像文件路径"));
    EXPECT_EQ(list->columnWidth(0), 100);
    EXPECT_EQ(list->columnWidth(1), 140);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);

    for (QPushButton* button :
         {dialog->btn_selectiso, dialog->btn_add, dialog->btn_delete, dialog->btn_ok, dialog->btn_cancel}) {
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << button->text().toStdString();
        EXPECT_FALSE(button->autoDefault() || button->isDefault()) << button->text().toStdString();
    }
    EXPECT_EQ(NextTabStop(dialog->edt_title), dialog->edt_iso);
    EXPECT_EQ(NextTabStop(dialog->edt_iso), dialog->lv_menu);
    EXPECT_EQ(NextTabStop(dialog->lv_menu), dialog->edt_title);
    EXPECT_EQ(TfrmConfig::ImageFilter(), QStringLiteral("镜像文件 (*.img *.iso)"));
}

TEST_F(FrmConfigTest, CentredOnItsOwner) {
    owner.show();
    auto dialog = Open();
    QPoint offset = dialog->geometry().center() - owner.geometry().center();
    EXPECT_LE(offset.manhattanLength(), 40) << offset.x() << "," << offset.y();
}

TEST_F(FrmConfigTest, NoListFileOpensEmptyAndOkWritesAnEmptyFile) {
    auto dialog = Open();
    EXPECT_EQ(dialog->lv_menu->rowCount(), 0);
    dialog->btn_ok->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    ASSERT_TRUE(fs::exists(ListPath()));
    EXPECT_EQ(fs::file_size(ListPath()), 0u);
    EXPECT_TRUE(messages.errors.isEmpty());
}

TEST_F(FrmConfigTest, LoadsByTheReadingRuleAndOkWritesItBack) {
    WriteBytes(ListPath(), "A|C:\\a.iso\r\nB|C:\\b.img\r\na|b|c\n|x\rx|\r\n\r\nD:\\x.iso");
    auto dialog = Open();
    EXPECT_EQ(RowTexts(*dialog), (Rows{{"A", "C:\\a.iso"},
                                       {"B", "C:\\b.img"},
                                       {"a", "b|c"},
                                       {"", "x"},
                                       {"x", ""},
                                       {"", ""},
                                       {"", "D:\\x.iso"}}));
    dialog->btn_ok->click();
    EXPECT_EQ(ReadBytes(ListPath()),
              "A|C:\\a.iso\r\nB|C:\\b.img\r\na|b|c\r\n|x\r\nx|\r\n|\r\n|D:\\x.iso\r\n");
}

TEST_F(FrmConfigTest, AddNeedsTitlePathAndAnExistingFileSilently) {
    auto dialog = Open();
    // Nothing chosen yet.
    dialog->edt_title->setText("PE");
    dialog->btn_add->click();
    // No title.
    Fill(*dialog, "", ImagePath("a.iso"));
    dialog->btn_add->click();
    // A folder is not a file.
    Fill(*dialog, "PE", folder.path().string());
    dialog->btn_add->click();
    // The chosen file was deleted since.
    Fill(*dialog, "PE", ImagePath("gone.iso"));
    WriteBytes(ImagePath("gone.iso"), "x");
    fs::remove(ImagePath("gone.iso"));
    dialog->btn_add->click();
    EXPECT_EQ(dialog->lv_menu->rowCount(), 0);
    EXPECT_TRUE(messages.messages.isEmpty() && messages.errors.isEmpty());

    // A name typed in the chooser for a file that does not exist shows, and is not added.
    Fill(*dialog, "PE", ImagePath("typed.iso"));
    EXPECT_EQ(dialog->edt_iso->text().toStdString(), ImagePath("typed.iso"));
    dialog->btn_add->click();
    EXPECT_EQ(dialog->lv_menu->rowCount(), 0);

    // Cancelling the chooser keeps the path that was there.
    dialog->dlgOpen = [](QWidget*) { return std::optional<std::string>(); };
    dialog->btn_selectiso->click();
    EXPECT_EQ(dialog->edt_iso->text().toStdString(), ImagePath("typed.iso"));
}

TEST_F(FrmConfigTest, AddsAsTypedAcceptsDuplicatesAndSavesTitlesWithBars) {
    auto dialog = Open();
    Fill(*dialog, " 维护 ", ImagePath("a.iso"));
    dialog->btn_add->click();
    dialog->btn_add->click();
    EXPECT_EQ(dialog->edt_title->text(), QStringLiteral(" 维护 "));
    EXPECT_EQ(dialog->edt_iso->text().toStdString(), ImagePath("a.iso"));
    Fill(*dialog, "a|b", ImagePath("b.img"));
    dialog->btn_add->click();
    dialog->btn_ok->click();
    const std::string a = ImagePath("a.iso"), b = ImagePath("b.img");
    EXPECT_EQ(ReadBytes(ListPath()), " 维护 |" + a + "\r\n 维护 |" + a + "\r\na|b|" + b + "\r\n");

    auto reopened = Open();
    EXPECT_EQ(RowTexts(*reopened).back(),
              (std::pair<QString, QString>("a", QString::fromStdString("b|" + b))));
}

TEST_F(FrmConfigTest, DeleteRemovesTheSelectedRowOnly) {
    WriteBytes(ListPath(), "A|1\r\nB|2\r\nC|3\r\n");
    auto dialog = Open();
    dialog->lv_menu->clearSelection();
    dialog->btn_delete->click();
    EXPECT_EQ(dialog->lv_menu->rowCount(), 3);
    dialog->lv_menu->selectRow(1);
    dialog->btn_delete->click();
    EXPECT_EQ(RowTexts(*dialog), (Rows{{"A", "1"}, {"C", "3"}}));
    // Nothing is selected after a delete, so a second click does nothing.
    dialog->btn_delete->click();
    EXPECT_EQ(dialog->lv_menu->rowCount(), 2);
}

TEST_F(FrmConfigTest, TitlesEditInPlacePathsDoNot) {
    WriteBytes(ListPath(), "A|/a.iso\r\n");
    auto dialog = Open();
    QTableWidget* list = dialog->lv_menu;
    EXPECT_TRUE(list->item(0, 0)->flags() & Qt::ItemIsEditable);
    EXPECT_FALSE(list->item(0, 1)->flags() & Qt::ItemIsEditable);

    list->setCurrentCell(0, 0);
    list->editItem(list->item(0, 0));
    auto* editor = list->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("新标题"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the view takes the text in a queued call
    EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("新标题"));
    // A pasted line break would split the item in the file: only the first line stays.
    list->item(0, 0)->setText(QStringLiteral("one\r\ntwo"));
    EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("one"));
    dialog->btn_ok->click();
    EXPECT_EQ(ReadBytes(ListPath()), "one|/a.iso\r\n");
}

TEST_F(FrmConfigTest, CancelCloseBoxAndEscapeLeaveTheFile) {
    const std::string original = "A|/a.iso\r\n";
    WriteBytes(ListPath(), original);
    {
        auto dialog = Open();
        Fill(*dialog, "New", ImagePath("a.iso"));
        dialog->btn_add->click();
        // Escape and Enter do nothing in this dialog.
        QTest::keyClick(dialog->edt_title, Qt::Key_Return);
        QTest::keyClick(dialog->edt_title, Qt::Key_Escape);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->lv_menu->rowCount(), 2);
        dialog->btn_cancel->click();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
    }
    EXPECT_EQ(ReadBytes(ListPath()), original);
    {
        auto dialog = Open();
        dialog->lv_menu->selectRow(0);
        dialog->btn_delete->click();
        dialog->close();
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
    }
    EXPECT_EQ(ReadBytes(ListPath()), original);
    EXPECT_EQ(Open()->lv_menu->rowCount(), 1);
}

TEST_F(FrmConfigTest, AFailedSaveKeepsTheDialogItsRowsAndTheOldFile) {
    const std::string original = "A|/a.iso\r\n";
    WriteBytes(ListPath(), original);
    auto dialog = Open();
    Fill(*dialog, "A much longer title than the limit allows", ImagePath("b.img"));
    dialog->btn_add->click();
    {
        vornel::test::FileSizeLimit fullDisk(16);
        dialog->btn_ok->click();
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->lv_menu->rowCount(), 2);
    EXPECT_EQ(ReadBytes(ListPath()), original);
    ASSERT_EQ(messages.errors.size(), 1);
    EXPECT_EQ(messages.errors[0],
              QString::fromStdString("Cannot create file \"" + ListPath() + "\". File too large."));
    // Once the disk has room again, the same rows save.
    dialog->btn_ok->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(ReadBytes(ListPath()),
              original + "A much longer title than the limit allows|" + ImagePath("b.img") + "\r\n");
}

TEST_F(FrmConfigTest, AnUnreadableListOpensEmptyWithTheOpenError) {
    // The list is there, but reading it fails: /proc/self/mem cannot be read at offset 0.
    fs::create_symlink("/proc/self/mem", ListPath());
    auto dialog = Open();
    EXPECT_EQ(dialog->lv_menu->rowCount(), 0);
    ASSERT_EQ(messages.errors.size(), 1);
    EXPECT_EQ(messages.errors[0],
              QString::fromStdString("Cannot open file \"" + ListPath() + "\". Input/output error."));
}

TEST(ChooseImageFile, OffersImageFilesAndAcceptsATypedNameThatDoesNotExist) {
    TempFolder folder;
    const std::string typed = (folder.path() / "not-there.iso").string();
    QStringList filters;
    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(chooser, nullptr);
        filters = chooser->nameFilters();
        chooser->selectFile(QString::fromStdString(typed));
        static_cast<QDialog*>(chooser)->accept();
    });
    auto chosen = vornel::bootitems::ChooseImageFile(nullptr);
    EXPECT_EQ(filters, QStringList{QStringLiteral("镜像文件 (*.img *.iso)")});
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, typed);
}
