#pragma once

#include <QWidget>

namespace sondrel::ui {

// The first screen of every launch: asks for the music library folder.
class WelcomeView : public QWidget {
    Q_OBJECT

public:
    explicit WelcomeView(QWidget* parent = nullptr);

    // Opens the folder chooser; a confirmed folder is announced by folderChosen.
    void selectLibrary();

signals:
    void folderChosen(const QString& path);
};

} // namespace sondrel::ui
