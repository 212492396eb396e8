// Draws the main window's artwork and writes it into the folder given as the only argument:
//   vornel_artwork src/app/artwork
// The outputs are committed; run this again after changing the drawing or the project's VERSION
// (the background shows it).

#include "artwork/Artwork.h"
#include "artwork/ImageFiles.h"

#include <QGuiApplication>
#include <cstdio>
#include <exception>
#include <string>

namespace {

using namespace vornel::artwork;

void WriteAll(const std::string& folder) {
    const QImage background = DrawBackground(QStringLiteral(VORNEL_VERSION));
    WriteProgressiveJpeg(background, folder + "/background.jpg", 92);

    const QImage wideUp = DrawWideButton(background.copy(kWideButtonArea), false);
    WriteBmp24(wideUp, folder + "/button_up.bmp");
    WriteBmp24(DrawWideButton(background.copy(kWideButtonArea), true), folder + "/button_hot.bmp");
    WriteBmp24(wideUp, folder + "/button_disabled.bmp");

    const QImage closeUp = DrawDiscButton(background.copy(kCloseButtonArea), DiscGlyph::Cross, false);
    WriteBmp24(closeUp, folder + "/close_up.bmp");
    WriteBmp24(DrawDiscButton(background.copy(kCloseButtonArea), DiscGlyph::Cross, true),
               folder + "/close_hot.bmp");
    WriteBmp24(closeUp, folder + "/close_disabled.bmp");

    WriteBmp24(DrawDiscButton(background.copy(kMinimiseButtonArea), DiscGlyph::Bar, false),
               folder + "/min_up.bmp");
    WriteBmp24(DrawDiscButton(background.copy(kMinimiseButtonArea), DiscGlyph::Bar, true),
               folder + "/min_hot.bmp");

    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string path = folder + "/icon_" + std::to_string(size) + ".png";
        if (!DrawLogo(size).save(QString::fromStdString(path), "PNG"))
            throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    try {
        WriteAll(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
