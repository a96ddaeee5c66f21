// The modal dialogs the main window asks questions through, behind an interface so that tests can answer
// them.
#pragma once

#include <QString>

class QWidget;

namespace quillmark {

// The save dialog's answer: the name as the user gave it and the position of the file type that was selected
// when they confirmed (0 BMP, 1 JPEG, 2 PNG), or -1 with no name when they cancelled.
struct SaveChoice {
    QString fileName;
    int position = -1;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The full name of the screen file the user chose, or an empty text when the dialog was cancelled.
    virtual QString openScreenFile(QWidget* parent) = 0;

    // A name and file type for saving a picture: titled "Save image", listing the three file types with PNG
    // selected first, with an empty name, no question before replacing a file and no extension of its own.
    virtual SaveChoice saveImage(QWidget* parent) = 0;

    // The information box titled "About" with the given text and a single OK button.
    virtual void about(QWidget* parent, const QString& text) = 0;
};

// The toolkit's own file dialogs and message box. Constructing one stops the toolkit's file dialogs from
// keeping their folder, history and layout in a settings file between runs: the program keeps nothing.
class QtDialogs : public Dialogs {
public:
    QtDialogs();
    QString openScreenFile(QWidget* parent) override;
    SaveChoice saveImage(QWidget* parent) override;
    void about(QWidget* parent, const QString& text) override;
};

} // namespace quillmark
