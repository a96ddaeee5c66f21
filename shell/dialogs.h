// The modal dialogs the main window asks questions through, behind an interface so that tests can answer
// them.
#pragma once

#include <QString>

class QWidget;

namespace quillmark {

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The full name of the screen file the user chose, or an empty text when the dialog was cancelled.
    virtual QString openScreenFile(QWidget* parent) = 0;

    // The information box titled "About" with the given text and a single OK button.
    virtual void about(QWidget* parent, const QString& text) = 0;
};

// The toolkit's own file dialog and message box.
class QtDialogs : public Dialogs {
public:
    QString openScreenFile(QWidget* parent) override;
    void about(QWidget* parent, const QString& text) override;
};

} // namespace quillmark
