// The default chart scripts of a new installation, drawn by `vdrtool chart`
// from the sample company: each one gives a picture and a PDF whose text
// carries its title, series and categories; a chart script that does not
// exist is an error, not an empty file.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "subprocess.h"

namespace {

using testsupport::ToolRun;

ToolRun run(const QString& dir, const QStringList& args) {
    return testsupport::runTool(args, dir,
                                testsupport::programEnvironment(dir + QStringLiteral("/msg.log")));
}

QString pdfText(const QString& file) {
    return testsupport::runProgram(QStringLiteral("pdftotext"), {file, QStringLiteral("-")}).out;
}

}  // namespace

TEST(VdrtoolChart, TheFourDefaultChartsOfTheSampleCompany) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path();
    ASSERT_TRUE(testsupport::assembleInstallation(dir));
    ToolRun demo = run(
        dir, {QStringLiteral("demo"), dir, QStringLiteral("--prospects"), QStringLiteral("30")});
    ASSERT_EQ(demo.code, 0) << demo.err.toStdString();

    struct Case {
        const char* script;
        QStringList words;
    } cases[] = {
        {"GRFRES.RPO", {"Frecuencia por Tipo de Respuestas", "DEMOSTRACION", "Respuesta"}},
        {"GRFDEM.RPO", {"Demostraciones Vs. Ventas", "Demostr.", "Ventas", "V001"}},
        {"GRFPRO.RPO", {"Ofertados", "Vendidos", "Código Productos"}},
        {"GRFDIA.RPO", {"Día"}},
    };
    for (const auto& c : cases) {
        QString pdf = dir + QLatin1Char('/') + QLatin1String(c.script) + QStringLiteral(".pdf");
        QString png = dir + QLatin1Char('/') + QLatin1String(c.script) + QStringLiteral(".png");
        ToolRun r = run(dir, {QStringLiteral("chart"), QLatin1String(c.script),
                              QStringLiteral("--pdf"), pdf, QStringLiteral("--png"), png,
                              QStringLiteral("--company"), QStringLiteral("00001")});
        ASSERT_EQ(r.code, 0) << c.script << ": " << r.err.toStdString();
        QString text = pdfText(pdf);
        for (const auto& w : c.words)
            EXPECT_TRUE(text.contains(w))
                << c.script << " lacks " << w.toStdString() << " in " << text.toStdString();
        QImage img(png);
        EXPECT_EQ(img.size(), QSize(800, 520)) << c.script;
    }

    ToolRun missing = run(dir, {QStringLiteral("chart"), QStringLiteral("GRFNADA.RPO"),
                                QStringLiteral("--png"), dir + QStringLiteral("/n.png"),
                                QStringLiteral("--company"), QStringLiteral("00001")});
    EXPECT_NE(missing.code, 0);
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/n.png")));
}
