#include <gtest/gtest.h>

#include <QImage>

#include "toolkit/resources.h"
#include "toolkit_env.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace {

TEST(ResourceLibrary, EveryButtonBitmapPairAndIconIsThere) {
    const char* pairs[][2] = {
        {"Nuevo1", "Nuevo2"},       {"Modif1", "Modif2"},       {"Cut1", "Cut2"},
        {"Buscar1", "Buscar2"},     {"Exit1", "Exit2"},         {"OK1", "OK2"},
        {"CALCUL", "CALCUL2"},      {"Calendar", "Calendar2"},  {"Tabla1", "Tabla2"},
        {"Prospect1", "Prospect2"}, {"Automant1", "Automant2"}, {"Impr1", "Impr2"},
        {"Graba1", "Graba2"}};
    for (auto& p : pairs) {
        const QImage a = tk::bitmap(p[0]).toImage();
        const QImage b = tk::bitmap(p[1]).toImage();
        EXPECT_EQ(a.size(), QSize(32, 32)) << p[0];
        // The pressed look must differ from the normal one.
        EXPECT_NE(a, b) << p[0];
    }
    for (const char* single : {"mn_Help", "Marco9D", "Buscar5", "Retrocede", "Avanza"})
        EXPECT_FALSE(tk::bitmap(single).isNull()) << single;
    for (const char* ic : {"VALDROSF", "GENTE"}) {
        EXPECT_FALSE(tk::icon(ic).isNull()) << ic;
        EXPECT_EQ(tk::iconPixmap(ic, 48).size(), QSize(48, 48));
    }
}

TEST(ResourceLibrary, NamesAreFoundWhateverTheirCase) {
    // The program's own code writes "MOdif1" in places.
    EXPECT_FALSE(tk::bitmap("MOdif1").isNull());
    EXPECT_FALSE(tk::ResourceLibrary::templatePath("browseinprosp").isEmpty());
}

TEST(ResourceLibrary, MissingItemsAreRuntimeErrorsNotCrashes) {
    try {
        tk::bitmap("NoExiste1");
        FAIL() << "a missing bitmap must raise";
    } catch (const xb::Break& e) {
        EXPECT_EQ(e.error.subsystem, "TOOLKIT");
        EXPECT_EQ(e.error.subCode, tk::resource::kBitmap);
        EXPECT_EQ(e.error.filename, "NoExiste1");
        EXPECT_NE(e.error.description.find("NoExiste1"), std::string::npos);
        EXPECT_TRUE(e.error.canSubstitute);
    }
    EXPECT_THROW(tk::icon("NoExiste"), xb::Break);
}

TEST(ResourceLibrary, TheErrorHandlerMayLetAButtonGoWithoutItsPicture) {
    int raised = 0;
    xb::setErrorHandler([&](xb::Error& e) {
        ++raised;
        EXPECT_TRUE(e.operation == "bitmap" || e.operation == "icono") << e.operation;
        return xb::HandlerAnswer{xb::ErrorAction::Substitute, xb::Value()};
    });
    const QPixmap pm = tk::bitmap("NoExiste1");
    const QIcon ic = tk::icon("NoExiste");
    xb::setErrorHandler({});
    EXPECT_TRUE(pm.isNull());
    EXPECT_TRUE(ic.isNull());
    EXPECT_EQ(raised, 2);
}

TEST(ResourceLibrary, LoadUnloadAndAMissingBundle) {
    EXPECT_FALSE(tk::ResourceLibrary::load(QStringLiteral("/nonexistent/ZariReva.rcc")));
    EXPECT_FALSE(tk::ResourceLibrary::isLoaded());
    EXPECT_THROW(tk::bitmap("OK1"), xb::Break);
    EXPECT_THROW(tk::ResourceLibrary::require(QStringLiteral("/nonexistent/ZariReva.rcc")),
                 xb::Break);
    ASSERT_TRUE(tk::ResourceLibrary::load(tktest::bundlePath()));
    EXPECT_TRUE(tk::ResourceLibrary::isLoaded());
    EXPECT_FALSE(tk::bitmap("OK1").isNull());
}

TEST(WindowPictures, BackgroundTilesAndEmblemHasAlpha) {
    const QImage fondo(QStringLiteral(VDR_SOURCE_DIR "/install/files/Fondo01.bmp"));
    ASSERT_FALSE(fondo.isNull());
    // A seamless tile: the first column continues the last one's pattern.
    EXPECT_EQ(fondo.width() % 16, 0);
    const QImage emblem(QStringLiteral(VDR_SOURCE_DIR "/install/files/Valdro32.bmp"));
    ASSERT_FALSE(emblem.isNull());
    EXPECT_TRUE(emblem.hasAlphaChannel());
    EXPECT_EQ(qAlpha(emblem.pixel(0, 0)), 0);  // corner outside the shield
    EXPECT_EQ(qAlpha(emblem.pixel(emblem.width() / 2, emblem.height() / 2)), 255);
}

}  // namespace
