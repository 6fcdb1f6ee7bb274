#include "AboutWindow.h"

#include "ApplicationShell.h"
#include "ViewStyle.h"

#include <QLabel>
#include <QVBoxLayout>

namespace sondrel::ui {

namespace {

// The libraries the program links, with the licences they come under in Debian's builds.
constexpr const char* kAcknowledgements[][2] = {
    { "Qt 6 (Core, Gui, Widgets, DBus, Multimedia)", "LGPL 3" },
    { "FFmpeg (libavformat, libavcodec, libavutil, libswresample)", "LGPL 2.1 or later; GPL 2 or later as Debian builds it" },
    { "FFTW 3", "GPL 2 or later" },
    { "JSON for Modern C++ (nlohmann/json)", "MIT" },
    { "CLI11", "BSD 3-Clause" },
};

} // namespace

AboutWindow::AboutWindow(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Sondrel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->setSpacing(6);

    auto* icon = new QLabel;
    icon->setPixmap(shell::applicationIcon().pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    auto* name = makeLabel(QStringLiteral("Sondrel"), TextStyle::title);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto* version = makeLabel(QStringLiteral("Version ") + shell::applicationVersion().value_or(QStringLiteral("Unknown")),
        TextStyle::body, secondaryText());
    version->setObjectName(QStringLiteral("version"));
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);
    layout->addSpacing(8);

    auto* credits = makeLabel(QStringLiteral("Made by the Sondrel developers for DJs who care how their tracks sound."),
        TextStyle::caption);
    credits->setAlignment(Qt::AlignCenter);
    credits->setWordWrap(true);
    layout->addWidget(credits);
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(QLatin1String(shell::kWebsite)));
    link->setObjectName(QStringLiteral("link"));
    link->setOpenExternalLinks(true);
    link->setAlignment(Qt::AlignCenter);
    layout->addWidget(link);
    layout->addSpacing(12);

    layout->addWidget(makeLabel(QStringLiteral("Acknowledgements"), TextStyle::headline));
    QString list;
    for (const auto& library : kAcknowledgements)
        list += QStringLiteral("<p style=\"margin:0 0 3px 0\">%1 <span style=\"color:%3\">— %2</span></p>")
                    .arg(QLatin1String(library[0]).toString().toHtmlEscaped(), QString::fromUtf8(library[1]),
                        palette::secondary.name());
    auto* libraries = makeLabel(list, TextStyle::caption);
    libraries->setObjectName(QStringLiteral("acknowledgements"));
    libraries->setTextFormat(Qt::RichText);
    libraries->setWordWrap(true);
    libraries->setFixedWidth(400);
    layout->addWidget(libraries);

    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace sondrel::ui
