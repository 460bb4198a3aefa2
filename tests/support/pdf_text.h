// What a printed PDF says, read back by poppler's pdftotext (poppler-utils),
// with every run of blanks as one: pdftotext renders the blanks inside one
// drawn text by their width, not by their count.
#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace testsupport {

inline QString runProgram(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000)) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString pdfText(const QString& pdf) {
    return runProgram(QStringLiteral("pdftotext"),
                      {QStringLiteral("-layout"), pdf, QStringLiteral("-")})
        .replace(QRegularExpression(QStringLiteral("[ \\t]+")), QStringLiteral(" "));
}

}  // namespace testsupport
