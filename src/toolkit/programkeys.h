// Keys that act the same in every window of the program (F5 the memory box,
// F1 the help). They are caught before any widget sees them, so that they
// work inside modal dialogs, whatever window has the keyboard and whether or
// not a window manager made one of ours the active window.
#pragma once

#include <functional>

namespace tk {

// Binds `key` (a Qt::Key, pressed without modifiers) to `action` for the
// whole program; an empty action unbinds it. A key pressed again while its
// action is still running (its box still open) is ignored.
void setProgramKey(int key, std::function<void()> action);

}  // namespace tk
