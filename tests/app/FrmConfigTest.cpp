#include "app/F_frmConfig.h"

#include "bootitems/FileSizeLimit.h"
#include "builder/TempFolder.h"
#include "support/RecordingMessages.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using vornel::app::TfrmConfig;
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

// The positions and texts are plain constants; what can go wrong is how the dialog behaves.
TEST_F(FrmConfigTest, FixedCentredAndButtonsNeverTakeTheFocus) {
    owner.show();
    auto d = Open();
    EXPECT_EQ(d->minimumSize(), QSize(512, 241));
    EXPECT_EQ(d->maximumSize(), QSize(512, 241));
    EXPECT_FALSE(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_LE((d->geometry().center() - owner.geometry().center()).manhattanLength(), 40);
    for (QPushButton* button : {d->btn_selectiso, d->btn_add, d->btn_delete, d->btn_ok, d->btn_cancel}) {
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << button->text().toStdString();
        EXPECT_FALSE(button->autoDefault() || button->isDefault()) << button->text().toStdString();
    }
    EXPECT_TRUE(d->edt_iso->isReadOnly());
    EXPECT_EQ(NextTabStop(d->edt_title), d->edt_iso);
    EXPECT_EQ(NextTabStop(d->edt_iso), d->lv_menu);
    EXPECT_EQ(NextTabStop(d->lv_menu), d->edt_title);
    EXPECT_EQ(d->lv_menu->columnWidth(0) + d->lv_menu->columnWidth(1), 240);
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
    dialog->edt_title->setText("PE");
    dialog->btn_add->click();                               // nothing chosen yet
    const std::string broken = ImagePath("two\nlines.iso"); // cannot be one line of the list
    WriteBytes(broken, "x");
    // No title; a folder; a name typed in the chooser for a file that does not exist; a path
    // with a line break.
    for (const auto& [title, path] :
         std::vector<std::pair<QString, std::string>>{{"", ImagePath("a.iso")},
                                                      {"PE", folder.path().string()},
                                                      {"PE", ImagePath("typed.iso")},
                                                      {"PE", broken}}) {
        Fill(*dialog, title, path);
        EXPECT_EQ(dialog->edt_iso->text().toStdString(), path);
        dialog->btn_add->click();
    }
    // The chosen file was deleted since it was chosen.
    Fill(*dialog, "PE", ImagePath("a.iso"));
    fs::remove(ImagePath("a.iso"));
    dialog->btn_add->click();
    EXPECT_EQ(dialog->lv_menu->rowCount(), 0);
    EXPECT_TRUE(messages.messages.isEmpty() && messages.errors.isEmpty());
    // Cancelling the chooser keeps the path that was there.
    dialog->dlgOpen = [](QWidget*) { return std::optional<std::string>(); };
    dialog->btn_selectiso->click();
    EXPECT_EQ(dialog->edt_iso->text().toStdString(), ImagePath("a.iso"));
}

TEST_F(FrmConfigTest, AddsAsTypedAcceptsDuplicatesAndKeepsBarsOutOfTitles) {
    auto dialog = Open();
    Fill(*dialog, " 维护 ", ImagePath("a.iso"));
    dialog->btn_add->click();
    dialog->btn_add->click();
    EXPECT_EQ(dialog->edt_title->text(), QStringLiteral(" 维护 "));
    EXPECT_EQ(dialog->edt_iso->text().toStdString(), ImagePath("a.iso"));
    // A pasted title keeps its first line only, as a single-line edit would.
    dialog->edt_title->setText(QStringLiteral("first\nsecond"));
    EXPECT_EQ(dialog->edt_title->text(), QStringLiteral("first"));
    // A "|" would end the title in the list file and move the rest into the path.
    Fill(*dialog, "a|b|", ImagePath("b.img"));
    EXPECT_EQ(dialog->edt_title->text(), QStringLiteral("ab"));
    dialog->btn_add->click();
    dialog->btn_ok->click();
    const std::string a = ImagePath("a.iso"), b = ImagePath("b.img");
    EXPECT_EQ(ReadBytes(ListPath()), " 维护 |" + a + "\r\n 维护 |" + a + "\r\nab|" + b + "\r\n");
}

TEST_F(FrmConfigTest, GbkListsShowTheirTextAndKeepTheirBytes) {
    // Two titles in GBK, as the Windows program kept them, and a line in no known encoding.
    const std::string kept = "\xCE\xAC\xBB\xA4|/a.iso", unknown = "bad\xFF|/c.iso";
    WriteBytes(ListPath(), kept + "\r\n\xB9\xA4\xBE\xDF|/b.img\r\n" + unknown + "\r\n");
    auto dialog = Open();
    ASSERT_EQ(dialog->lv_menu->rowCount(), 3);
    EXPECT_EQ(RowTexts(*dialog)[0], (std::pair<QString, QString>(QStringLiteral("维护"), "/a.iso")));
    EXPECT_EQ(RowTexts(*dialog)[1].first, QStringLiteral("工具"));
    dialog->lv_menu->item(1, 0)->setText(QStringLiteral("新"));
    dialog->btn_ok->click();
    // Lines left alone keep their bytes; the edited one is written as text.
    EXPECT_EQ(ReadBytes(ListPath()), kept + "\r\n新|/b.img\r\n" + unknown + "\r\n");
}

TEST_F(FrmConfigTest, PathsTheDiskToolCannotTakeAreRefusedByName) {
    auto dialog = Open();
    for (const char* name : {"say \"hi\".iso", "ends in\\"}) {
        WriteBytes(ImagePath(name), "x");
        Fill(*dialog, "PE", ImagePath(name));
        dialog->btn_add->click();
    }
    EXPECT_EQ(dialog->lv_menu->rowCount(), 0);
    ASSERT_EQ(messages.messages.size(), 2);
    EXPECT_TRUE(
        messages.messages[0].startsWith(QString::fromStdString("文件:" + ImagePath("say \"hi\".iso") + " ")));
    EXPECT_TRUE(messages.messages[1].contains(QString::fromStdString(ImagePath("ends in\\"))));
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
    // A pasted line break would split the item in the file: only the first line stays, without "|".
    list->item(0, 0)->setText(QStringLiteral("o|ne\r\ntwo"));
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
    // The report is Chinese, with the system's reason; no full stop after the Chinese one.
    EXPECT_EQ(messages.errors[0], QString::fromStdString("无法创建文件 \"" + ListPath() + "\"：文件太大。"));
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
    EXPECT_EQ(messages.errors[0], QString::fromStdString("无法打开文件 \"" + ListPath() + "\"：读写出错。"));
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
    auto chosen = vornel::app::ChooseImageFile(nullptr);
    EXPECT_EQ(filters, QStringList{QStringLiteral("镜像文件 (*.img *.iso)")});
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, typed);
}

// The dialog as the user sees it, with Chinese rows; the picture goes under the build tree.
TEST_F(FrmConfigTest, RendersChineseRowsInItsFixedSize) {
    auto dialog = Open();
    Fill(*dialog, QStringLiteral("Windows PE 维护系统"), ImagePath("a.iso"));
    dialog->btn_add->click();
    Fill(*dialog, QStringLiteral("DOS 工具盘"), ImagePath("b.img"));
    dialog->btn_add->click();
    QApplication::processEvents();
    const QImage picture = dialog->grab().toImage();
    EXPECT_EQ(picture.size(), QSize(512, 241));
    EXPECT_EQ(dialog->lv_menu->rowCount(), 2);
    if (const char* build = std::getenv("VORNEL_BUILD_DIR")) {
        fs::create_directories(fs::path(build) / "screenshots");
        EXPECT_TRUE(
            picture.save(QString::fromStdString((fs::path(build) / "screenshots" / "config.png").string())));
    }
}
