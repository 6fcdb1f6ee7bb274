#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace sondrel::ui {

// Where the window's file dialogs open: the folder last chosen for the same purpose, while it
// still exists, else the library's folder, else the home folder; never the process's working
// folder. The last choices are kept in the settings under "chooserFolders/".
class ChooserFolders {
public:
    ChooserFolders() = delete;

    enum class Purpose { library, moveDestination, exportList, diagnostics };

    [[nodiscard]] static QString startFolder(
        Purpose purpose, const std::optional<std::filesystem::path>& library = std::nullopt);
    // `chosen` is the folder chosen, or the file saved (its folder is kept).
    static void remember(Purpose purpose, const QString& chosen, bool isFile = false);
};

} // namespace sondrel::ui
