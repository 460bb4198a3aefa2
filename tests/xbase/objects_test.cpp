// Objects and messages; the TPublic store and PUBLICA.
#include "xbase/tpublic.h"
#include "xbtest.h"

using namespace xbt;

class Store : public XbTest {
  protected:
    void SetUp() override {
        XbTest::SetUp();
        ev("oAp := TPublic():New()");
    }
};

TEST_F(Store, PropertyAccessIgnoresCase) {
    ev("oAp:Add('nLinEjec', 0)");
    EXPECT_EQ(evn("oAp:NLINEJEC"), 0);
    ev("oAp:nlinejec := 7");
    EXPECT_EQ(evn("oAp:Get('NlInEjEc')"), 7);
    EXPECT_EQ(evn("oAp:nCount()"), 1);
}

TEST_F(Store, AddingTwiceKeepsOneEntry) {
    ev("oAp:Add('x', 1), oAp:Add(' X ', 2)");
    EXPECT_EQ(evn("oAp:nCount()"), 1);
    EXPECT_EQ(evn("oAp:x"), 2);
    EXPECT_EQ(evn("oAp:GetPos('x')"), 1);
    EXPECT_EQ(evn("oAp:GetPos('y')"), 0);
    EXPECT_TRUE(evl("oAp:IsDef('X')"));
}

TEST_F(Store, DelOfUnknownNameChangesNothing) {
    ev("oAp:Add('a', 1):Add('b', 2)");
    ev("oAp:Del('zz')");
    EXPECT_EQ(evn("oAp:nCount()"), 2);
    ev("oAp:Del('A')");
    EXPECT_EQ(evn("oAp:nCount()"), 1);
    EXPECT_EQ(evn("oAp:b"), 2);
}

TEST_F(Store, SaveAndRestore) {
    ev("oAp:Add('a', 1), oAp:Add('b', 2)");
    ev("aSav := oAp:Save()");
    ev("oAp:a := 10, oAp:Add('c', 3)");
    EXPECT_EQ(evn("LEN(aSav)"), 2);  // the saved list is unaffected
    ev("oAp:Restore(aSav)");
    EXPECT_EQ(evn("oAp:a"), 1);
    EXPECT_EQ(evn("oAp:nCount()"), 2);
    EXPECT_FALSE(evl("oAp:IsDef('c')"));
    ev("oAp:Release()");
    EXPECT_EQ(evn("oAp:nCount()"), 0);
}

TEST_F(Store, UnknownNamesRaise1004And1005) {
    try {
        ev("oAp:nNada");
        FAIL();
    } catch (const xb::Break& b) {
        EXPECT_EQ(b.error.subCode, 1004);
        EXPECT_EQ(b.error.operation, "TPUBLIC:NNADA");
        EXPECT_NE(b.error.message().find("TPUBLIC:NNADA"), std::string::npos);
    }
    ev("oAp:nNuevo := 5");  // automatic: added
    EXPECT_EQ(evn("oAp:nNuevo"), 5);
    ev("oFix := TPublic():New(.F.)");
    try {
        ev("oFix:nOtro := 1");
        FAIL();
    } catch (const xb::Break& b) {
        EXPECT_EQ(b.error.subCode, 1005);
        EXPECT_EQ(b.error.operation, "TPUBLIC:NOTRO");
    }
    EXPECT_EQ(evn("oFix:nCount()"), 0);
    EXPECT_EQ(errorOf("oAp:Get('nada')").second, 1004);
    EXPECT_EQ(errorOf("oAp:Set('nada', 1)").second, 1005);
}

TEST_F(Store, CacheFollowsTheLastNameAsGiven) {
    auto store = std::make_shared<xb::TPublic>();
    store->add("uno", xb::Value::num(1));
    store->add("dos", xb::Value::num(2));
    EXPECT_EQ(store->getPos("UNO"), 1);
    EXPECT_EQ(store->cacheName, "UNO");
    EXPECT_EQ(store->cachePos, 1);
    store->del("uno");
    EXPECT_EQ(store->cachePos, 0);
    EXPECT_EQ(store->get("dos").asNumber(), 2);
    EXPECT_EQ(store->cachePos, 1);
}

TEST_F(Store, MessagesToNonObjectsRaise1004NamingTheType) {
    try {
        ev("'texto':Len");
        FAIL();
    } catch (const xb::Break& b) {
        EXPECT_EQ(b.error.subCode, 1004);
        EXPECT_EQ(b.error.operation, "CHARACTER:LEN");
    }
    EXPECT_EQ(errorOf("x := 1, x:y := 2").second, 1005);
}

TEST_F(Store, ClassesAreListedInRegistrationOrder) {
    auto classes = xb::registeredClasses();
    ASSERT_FALSE(classes.empty());
    EXPECT_EQ(classes[0], "TPUBLIC");
    EXPECT_EQ(xb::registerClass("TWINDOW"), static_cast<int>(classes.size()) + 1);
    EXPECT_EQ(xb::registerClass("TPublic"), 1);
}
