// What a printed PDF says, read back by poppler's pdftotext (poppler-utils),
// with every run of blanks as one: pdftotext renders the blanks inside one
// drawn text by their width, not by their count.
#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "subprocess.h"

namespace testsupport {

inline QString pdfText(const QString& pdf) {
    return runProgram(QStringLiteral("pdftotext"),
                      {QStringLiteral("-layout"), pdf, QStringLiteral("-")})
        .out.replace(QRegularExpression(QStringLiteral("[ \\t]+")), QStringLiteral(" "));
}

}  // namespace testsupport
