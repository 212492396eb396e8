// The main window's layout: every control at its place, with its font, caption, pictures and
// tab order.

#include "app/F_frmMain.h"
#include "app/JpegPicture.h"
#include "controls/FocusFrame.h"
#include "controls/Messages.h"
#include "drives/DriveList.h"

#include <QApplication>
#include <QFile>
#include <stdexcept>

namespace vornel::app {

namespace {

constexpr QSize kWindowSize{800, 600};

// "新宋体" where it is installed; otherwise the first CJK face that is.
QFont LayoutFont(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("新宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Sans CJK")});
    font.setPixelSize(pixelSize);
    return font;
}

QImage ArtworkBitmap(const QString& name) {
    QImage picture(QStringLiteral(":/artwork/%1.bmp").arg(name));
    if (picture.isNull())
        throw std::runtime_error("Missing built-in picture " + name.toStdString());
    return picture;
}

QImage BackgroundPicture() {
    QFile file(QStringLiteral(":/artwork/background.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Missing built-in background picture");
    return DecodeJpeg(file.readAll()).image;
}

controls::TBmpButton* MakeButton(QWidget* parent, const QRect& geometry, const QString& pictures,
                                 bool withDisabled) {
    auto* button = new controls::TBmpButton(parent);
    button->setGeometry(geometry);
    button->Bitmaps().Set(controls::Face::Up, ArtworkBitmap(pictures + QStringLiteral("_up")));
    button->Bitmaps().Set(controls::Face::Hot, ArtworkBitmap(pictures + QStringLiteral("_hot")));
    if (withDisabled)
        button->Bitmaps().Set(controls::Face::Disabled,
                              ArtworkBitmap(pictures + QStringLiteral("_disabled")));
    button->Bitmaps().SetTransparentColor(controls::kClOlive);
    return button;
}

controls::TBmpButton* MakeCaptionedButton(QWidget* parent, const QRect& geometry, const char* caption) {
    auto* button = MakeButton(parent, geometry, QStringLiteral("button"), true);
    button->SetCaption(caption);
    button->setFont(LayoutFont(12));
    button->SetFontColor(Qt::white);
    return button;
}

} // namespace

void TfrmMain::BuildLayout() {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(controls::ApplicationTitle());
    setFixedSize(kWindowSize);
    setFont(LayoutFont(12));

    img_back = BackgroundPicture();

    img_wait = new WaitPicture(this);
    img_wait->setGeometry(264, 544, 25, 17);

    lbl_wait = new QLabel(QStringLiteral("正在制作U盘启动系统，请等待..."), this);
    lbl_wait->setGeometry(296, 546, 210, 14);
    lbl_wait->setFont(LayoutFont(14));
    QPalette white = lbl_wait->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    lbl_wait->setPalette(white);
    lbl_wait->setAutoFillBackground(false);
    pnl_progress = new ProgressPanel(this);

    wbMain = new WebPanel(this);
    wbMain->setGeometry(38, 112, 723, 338);

    btn_make = MakeCaptionedButton(this, {176, 508, 135, 30}, "一键制成USB启动盘");
    btn_config = MakeCaptionedButton(this, {332, 508, 135, 30}, "U盘启动项配置");
    btn_clean = MakeCaptionedButton(this, {488, 508, 135, 30}, "归还U盘空间");
    btn_close = MakeButton(this, {767, 4, 29, 29}, QStringLiteral("close"), true);
    btn_min = MakeButton(this, {737, 4, 28, 29}, QStringLiteral("min"), false);

    cbb_disk = new QComboBox(this);
    cbb_disk->setEditable(false);
    cbb_disk->setGeometry(189, 480, 425, 20);
    cbb_disk->addItem(QString::fromUtf8(drives::kInsertDiskPrompt.data(), drives::kInsertDiskPrompt.size()));
    cbb_disk->setCurrentIndex(0);

    rb_hdd = new QRadioButton(QStringLiteral("USB-HDD"), this);
    rb_hdd->setGeometry(624, 472, 73, 17);
    rb_hdd->setChecked(true);
    rb_zip = new QRadioButton(QStringLiteral("USB-ZIP"), this);
    rb_zip->setGeometry(624, 488, 73, 17);

    tmr = new QTimer(this);
    tmr->setInterval(2000);
    tmr->start();

    QWidget* const tabOrder[] = {wbMain,  btn_make, btn_config, btn_clean, btn_close,
                                 btn_min, cbb_disk, rb_hdd,     rb_zip};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    // The bitmap buttons draw their own focus; the others get a frame around them.
    auto* focusFrame = new controls::FocusFrame(this);
    for (QWidget* control : {static_cast<QWidget*>(wbMain), static_cast<QWidget*>(cbb_disk),
                             static_cast<QWidget*>(rb_hdd), static_cast<QWidget*>(rb_zip)})
        focusFrame->Watch(control);
    // The first control in the tab order holds the focus when the window first opens.
    wbMain->setFocus();
}

} // namespace vornel::app
