#pragma once

#include "Result.h"
#include "TagError.h"

namespace sondrel::tags {

// The tag module's results carry a TagError: one of its own cases or a file-system error.
template <typename T> using TagResult = Result<T, TagError>;
using TagStatus = StatusOf<TagError>;

} // namespace sondrel::tags
