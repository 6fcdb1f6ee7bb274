#include "WelcomeView.h"

#include "ApplicationShell.h"
#include "ChooserFolders.h"
#include "Symbols.h"
#include "ViewStyle.h"

#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace sondrel::ui {

WelcomeView::WelcomeView(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->addStretch(1);

    auto* icon = new QLabel;
    icon->setPixmap(shell::applicationIcon().pixmap(128, 128));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto* name = makeLabel(QStringLiteral("Sondrel"), TextStyle::title);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto* headline = makeLabel(QStringLiteral("Detect fake high-bitrate audio files"), TextStyle::headline);
    headline->setAlignment(Qt::AlignCenter);
    layout->addWidget(headline);
    auto* text
        = makeLabel(QStringLiteral("Select your music library to scan for transcoded or low-quality files "
                                   "masquerading as high-bitrate audio."),
            TextStyle::body, secondaryText());
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    text->setFixedWidth(320);
    // A wrapped label in a box layout is otherwise given one line's height.
    text->setMinimumHeight(text->heightForWidth(320));
    layout->addWidget(text, 0, Qt::AlignHCenter);
    layout->addSpacing(8);

    auto* button = new QPushButton(symbolIcon(Symbol::folder), QStringLiteral("Select Music Library"));
    button->setObjectName(QStringLiteral("selectLibrary"));
    button->setDefault(true);
    button->setIconSize(QSize(18, 18));
    button->setMinimumHeight(36);
    button->setStyleSheet(QStringLiteral("QPushButton { padding: 4px 18px; font-weight: 600; }"));
    layout->addWidget(button, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(button, &QPushButton::clicked, this, &WelcomeView::selectLibrary);
}

void WelcomeView::selectLibrary()
{
    auto* panel = new QFileDialog(this, QStringLiteral("Select your music library"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setWindowModality(Qt::WindowModal);
    panel->setDirectory(ChooserFolders::startFolder(ChooserFolders::Purpose::library));
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (folder.isEmpty())
            return;
        ChooserFolders::remember(ChooserFolders::Purpose::library, folder);
        emit folderChosen(folder);
    });
    panel->open();
}

} // namespace sondrel::ui
