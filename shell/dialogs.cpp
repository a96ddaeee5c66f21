#include "shell/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace quillmark {

QString QtDialogs::openScreenFile(QWidget* parent) {
    // No folder and no filter: the dialog opens where the system puts it and lists every file. The dialog
    // never changes the process's current folder.
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open Mode 7 screen file"));
}

void QtDialogs::about(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("About"), text);
}

} // namespace quillmark
