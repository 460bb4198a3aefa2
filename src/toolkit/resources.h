// The resource library: the binary bundle "ZariReva.rcc" that holds the dialog
// templates, the button bitmaps and the icons. The program registers it once
// at start-up and releases it at exit; every dialog and button finds its
// pictures here by name. Names are matched without regard to case, because
// the program's own code spells some of them differently ("MOdif1").
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace tk {

// A template, bitmap, icon or control the library does not hold, or a library
// that cannot be registered, is a runtime error raised where the dialog or
// button is created (subsystem "TOOLKIT", general code 21, the name as file
// name), so that the program's error handler decides: a missing bitmap or
// icon may be substituted (the button goes without its picture), anything
// else breaks with xb::Break.
namespace resource {
inline constexpr int kTemplate = 1, kBitmap = 2, kIcon = 3, kLibrary = 4, kControl = 5;
}
// Raises the error; returns only when the handler substituted (and only
// when `canSubstitute`).
void raiseResourceError(int subCode, const QString& name, const QString& text,
                        bool canSubstitute = false);

class ResourceLibrary {
  public:
    // Registers the bundle at `path`. Returns false (and leaves nothing
    // registered) when the file is missing or not a resource bundle. A library
    // already loaded is released first.
    static bool load(const QString& path);
    // Same, but a failure is a runtime error naming the file.
    static void require(const QString& path);
    static void unload();
    static bool isLoaded();
    static QString path();

    // Resource paths (":/dialogs/X.ui") of the named items; empty when absent.
    static QString templatePath(const QString& name);
    static QString bitmapPath(const QString& name);
    static QString iconPath(const QString& name);
    // Names of every template (without extension), as stored.
    static QStringList templateNames();
    static QStringList bitmapNames();
    static QStringList iconNames();
};

// The named bitmap, drawn at its natural size (or `size` when given).
// A runtime error when the library lacks it (empty when substituted).
QPixmap bitmap(const QString& name, QSize size = QSize());
// The named icon; a runtime error when the library lacks it.
QIcon icon(const QString& name);
QPixmap iconPixmap(const QString& name, int side = 32);

}  // namespace tk
