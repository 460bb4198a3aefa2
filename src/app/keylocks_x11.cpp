// The lock lights of an X display's keyboard. Kept apart because Xlib's
// headers define names (Bool, None, KeyPress...) that clash with Qt's.
#include <QGuiApplication>

#include "app/mainwindow.h"

#ifdef VDR_HAVE_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace app {

bool x11KeyboardLocks(bool& caps, bool& num) {
#ifdef VDR_HAVE_X11
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* dpy = x11 ? x11->display() : nullptr;
    if (dpy == nullptr) return false;
    unsigned int state = 0;
    if (XkbGetIndicatorState(dpy, XkbUseCoreKbd, &state) != Success) return false;
    // By name where the keyboard map names its indicators; else the usual bits.
    auto lit = [&](const char* name, int bit) {
        const Atom atom = XInternAtom(dpy, name, True);
        int index = -1;
        Bool on = False;
        if (atom != None && XkbGetNamedIndicator(dpy, atom, &index, &on, nullptr, nullptr))
            return on != False;
        return (state & (1u << bit)) != 0;
    };
    caps = lit("Caps Lock", 0);
    num = lit("Num Lock", 1);
    return true;
#else
    (void)caps;
    (void)num;
    return false;
#endif
}

}  // namespace app
