#include <gtest/gtest.h>

#include <QApplication>

#include "application.h"
#include "toolkit/resources.h"
#include "toolkit_env.h"

namespace tktest {
QString bundlePath() {
    return QStringLiteral(VDR_BINARY_DIR "/resources/ZariReva.rcc");
}
}  // namespace tktest

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        app_ = &testsupport::application();
        ASSERT_TRUE(tk::ResourceLibrary::load(tktest::bundlePath()))
            << tktest::bundlePath().toStdString();
    }
    void TearDown() override {
        tk::ResourceLibrary::unload();
        delete app_;
    }

  private:
    QApplication* app_ = nullptr;
};

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
