#pragma once

#include <filesystem>

namespace sondrel::ui {

// Shows a file or folder selected in the desktop's file manager (the freedesktop
// org.freedesktop.FileManager1 ShowItems call); where no file manager answers on the session
// bus, opens the containing folder instead. Returns at once: the bus call is asynchronous.
void showInFileManager(const std::filesystem::path& item);

} // namespace sondrel::ui
