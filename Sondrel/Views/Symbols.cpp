#include "Symbols.h"

namespace sondrel::ui {

QIcon symbolIcon(Symbol, const QColor&)
{
    return {};
}

} // namespace sondrel::ui
