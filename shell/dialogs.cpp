#include "shell/dialogs.h"

#include "pictures/save_types.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <optional>

namespace quillmark {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The toolkit reads a type's patterns from between its parentheses and splits them on blanks, so
// "JPEG(*.jpg;*.jpeg;*.jpe)" would list no file at all. The list keeps the descriptions as they stand, and
// the dialog's file list is given each type's own patterns whenever a type is selected.
void listFilesOfType(QFileDialog& dialog, const QString& description) {
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!model) return;
    for (const SaveType& type : kSaveTypes) {
        if (toQString(type.description) == description) {
            model->setNameFilters(toQString(type.patterns).split(u';', Qt::SkipEmptyParts));
            return;
        }
    }
}

// Switching the file type in a save dialog makes the toolkit replace the typed name's extension with the new
// type's; here the name stays as the user typed it, and the type alone decides what is appended later. The
// name is noted whenever the type list is about to be used, and put back once the new type is in force.
class TypedNameKeeper : public QObject {
public:
    explicit TypedNameKeeper(QFileDialog& dialog) : QObject(&dialog), dialog_(dialog) {
        types_ = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        name_ = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (types_) types_->installEventFilter(this);
        connect(&dialog, &QFileDialog::filterSelected, this, &TypedNameKeeper::typeSelected);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::KeyPress:
        case QEvent::Wheel:
            if (name_) typed_ = name_->text();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void typeSelected(const QString& description) {
        if (name_ && typed_ && name_->text() != *typed_) name_->setText(*typed_);
        listFilesOfType(dialog_, description);
    }

    QFileDialog& dialog_;
    QComboBox* types_ = nullptr;
    QLineEdit* name_ = nullptr;
    std::optional<QString> typed_;
};

} // namespace

QtDialogs::QtDialogs() {
    // The toolkit's file dialog reads and writes its last folder, history and view in the user's settings
    // file. Pointing user settings at a place where no file can exist leaves nothing to read and nowhere to
    // write; the program itself keeps no settings, so nothing else is lost.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
}

QString QtDialogs::openScreenFile(QWidget* parent) {
    // No folder and no filter: the dialog opens where the system puts it and lists every file. The dialog
    // never changes the process's current folder.
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open Mode 7 screen file"));
}

SaveChoice QtDialogs::saveImage(QWidget* parent) {
    // A fresh dialog every time: no name, folder or type is remembered between saves. The toolkit's own
    // dialog, since only its file list can be given the types' patterns.
    // Opened in the current folder every time, which no dialog changes: not wherever an earlier dialog was.
    QFileDialog dialog(parent, QStringLiteral("Save image"), QDir::currentPath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    QStringList descriptions;
    for (const SaveType& type : kSaveTypes)
        descriptions.append(toQString(type.description));
    dialog.setNameFilters(descriptions);
    new TypedNameKeeper(dialog);
    dialog.selectNameFilter(descriptions.at(kPngPosition));
    listFilesOfType(dialog, descriptions.at(kPngPosition));

    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList names = dialog.selectedFiles();
    const int position = static_cast<int>(descriptions.indexOf(dialog.selectedNameFilter()));
    if (names.isEmpty() || names.front().isEmpty() || position < 0) return {};
    return {names.front(), position};
}

void QtDialogs::about(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("About"), text);
}

} // namespace quillmark
