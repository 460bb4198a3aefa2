#include "app/workstation.h"

namespace app {

std::optional<QString> workstationProblem(const QString& name) {
    const QString rule = QStringLiteral(
        "El nombre del equipo debe tener entre 1 y 12 caracteres, sin barras (/ \\), "
        "sin caracteres de control y distinto de \".\" y \"..\".");
    if (name.isEmpty()) return QStringLiteral("Por favor identifique el equipo en ejecución.");
    if (name.size() > kMaxWorkstationName)
        return QStringLiteral("El nombre del equipo \"%1\" es demasiado largo.\n%2")
            .arg(name, rule);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("El nombre del equipo \"%1\" no es válido.\n%2").arg(name, rule);
    for (QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c.category() == QChar::Other_Control || c.unicode() == 0x7F)
            return QStringLiteral("El nombre del equipo \"%1\" no es válido.\n%2").arg(name, rule);
        // The name is stored in Windows-1252 tables; refuse what that code page
        // cannot hold.
        if (c.unicode() > 0xFF && QStringLiteral("€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ").indexOf(c) < 0)
            return QStringLiteral(
                       "El nombre del equipo \"%1\" contiene caracteres no admitidos.\n%2")
                .arg(name, rule);
    }
    return std::nullopt;
}

QString userTermin(const QString& name) {
    return name.toUpper() + QLatin1Char('\\');
}

}  // namespace app
