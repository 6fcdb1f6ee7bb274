#pragma once

#include <QDialog>

namespace sondrel::ui {

// "About Sondrel": icon, name, version, credits with our link, and the libraries we build on with
// their licences.
class AboutWindow : public QDialog {
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* parent = nullptr);
};

} // namespace sondrel::ui
