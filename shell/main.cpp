// The desktop program: no arguments are read, nothing is kept between runs, and it always ends with status 0.
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "teletext/glyph_atlas.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillmark.png")));

    // Built now rather than at the first render, so the first toggle or import does not wait for it.
    quillmark::glyphAtlas();

    quillmark::QtDialogs dialogs;
    quillmark::MainWindow window(dialogs);
    window.start();
    QApplication::exec();
    return 0;
}
