#include "toolkit/resources.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QResource>
#include <QSvgRenderer>

#include "toolkit/text.h"
#include "xbase/error.h"

namespace tk {

namespace {

struct State {
    QString path;
    // lower-case name -> resource path, one table per folder of the bundle
    QHash<QString, QString> dialogs, bitmaps, icons;
};

State& state() {
    static State s;
    return s;
}

QHash<QString, QString> index(const QString& folder) {
    QHash<QString, QString> out;
    const QDir dir(QStringLiteral(":/") + folder);
    for (const QFileInfo& fi : dir.entryInfoList(QDir::Files))
        out.insert(fi.completeBaseName().toLower(), fi.filePath());
    return out;
}

QStringList names(const QHash<QString, QString>& table) {
    QStringList out;
    for (const QString& p : table) out << QFileInfo(p).completeBaseName();
    out.sort(Qt::CaseInsensitive);
    return out;
}

QPixmap render(const QString& resourcePath, QSize size) {
    if (resourcePath.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgRenderer svg(resourcePath);
        if (!svg.isValid()) return {};
        if (!size.isValid()) size = svg.defaultSize();
        QImage img(size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p);
        p.end();
        return QPixmap::fromImage(img);
    }
    QPixmap pm(resourcePath);
    if (!pm.isNull() && size.isValid() && pm.size() != size)
        pm = pm.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return pm;
}

}  // namespace

void raiseResourceError(int subCode, const QString& name, const QString& text, bool canSubstitute) {
    xb::Error e;
    e.genCode = xb::gen::Open;
    e.subsystem = "TOOLKIT";
    e.subCode = subCode;
    e.description = toAnsi(text);
    e.filename = toAnsi(name);
    e.operation = subCode == resource::kTemplate  ? "plantilla"
                  : subCode == resource::kBitmap  ? "bitmap"
                  : subCode == resource::kIcon    ? "icono"
                  : subCode == resource::kLibrary ? "biblioteca"
                                                  : "control";
    e.canSubstitute = canSubstitute;
    if (!canSubstitute) xb::raiseBreak(std::move(e));
    xb::raise(std::move(e));
}

bool ResourceLibrary::load(const QString& path) {
    unload();
    if (!QFileInfo::exists(path)) return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!QResource::registerResource(absolute)) return false;
    State& s = state();
    s.path = absolute;
    s.dialogs = index(QStringLiteral("dialogs"));
    s.bitmaps = index(QStringLiteral("bitmaps"));
    s.icons = index(QStringLiteral("icons"));
    return true;
}

void ResourceLibrary::require(const QString& path) {
    if (!load(path))
        raiseResourceError(
            resource::kLibrary, path,
            QStringLiteral("No se pudo cargar la biblioteca de recursos %1").arg(path));
}

void ResourceLibrary::unload() {
    State& s = state();
    if (s.path.isEmpty()) return;
    QResource::unregisterResource(s.path);
    s = State{};
}

bool ResourceLibrary::isLoaded() {
    return !state().path.isEmpty();
}
QString ResourceLibrary::path() {
    return state().path;
}

QString ResourceLibrary::templatePath(const QString& name) {
    return state().dialogs.value(name.trimmed().toLower());
}
QString ResourceLibrary::bitmapPath(const QString& name) {
    return state().bitmaps.value(name.trimmed().toLower());
}
QString ResourceLibrary::iconPath(const QString& name) {
    return state().icons.value(name.trimmed().toLower());
}
QStringList ResourceLibrary::templateNames() {
    return names(state().dialogs);
}
QStringList ResourceLibrary::bitmapNames() {
    return names(state().bitmaps);
}
QStringList ResourceLibrary::iconNames() {
    return names(state().icons);
}

QPixmap bitmap(const QString& name, QSize size) {
    const QString p = ResourceLibrary::bitmapPath(name);
    QPixmap pm = p.isEmpty() ? QPixmap() : render(p, size);
    if (pm.isNull())
        raiseResourceError(
            resource::kBitmap, name,
            QStringLiteral("No existe el bitmap \"%1\" en la biblioteca de recursos").arg(name),
            true);
    return pm;
}

QPixmap iconPixmap(const QString& name, int side) {
    const QString p = ResourceLibrary::iconPath(name);
    QPixmap pm = p.isEmpty() ? QPixmap() : render(p, QSize(side, side));
    if (pm.isNull())
        raiseResourceError(
            resource::kIcon, name,
            QStringLiteral("No existe el icono \"%1\" en la biblioteca de recursos").arg(name),
            true);
    return pm;
}

QIcon icon(const QString& name) {
    QIcon ic;
    const QPixmap first = iconPixmap(name, 16);
    if (first.isNull()) return ic;  // substituted by the error handler
    ic.addPixmap(first);
    for (int side : {24, 32, 48, 64}) ic.addPixmap(iconPixmap(name, side));
    return ic;
}

}  // namespace tk
