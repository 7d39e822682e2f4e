// Creating objects by ProgID.

#include "platform/interfaces.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

using namespace bw;

namespace {

class Thing : public Component {};

class Greeter : public Component {
public:
    QString hello() const { return u"hi"_qs; }
};

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        Registry::instance().unregisterClass(u"Test.Thing"_qs);
        Registry::instance().unregisterClass(u"Test.Greeter"_qs);
        Registry::instance().unregisterClass(u"Test.Nothing"_qs);
    }
};

} // namespace

TEST_F(RegistryTest, UnregisteredProgIdRaises429NamingIt) {
    try {
        Registry::instance().create(u"No.Such.Thing"_qs);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::CannotCreateObject);
        EXPECT_TRUE(e.description().contains(u"No.Such.Thing"_qs)) << e.what();
    }
    EXPECT_FALSE(Registry::instance().isRegistered(u"No.Such.Thing"_qs));
}

TEST_F(RegistryTest, ProgIdsIgnoreLetterCase) {
    Registry::instance().registerClass(u"Test.Greeter"_qs,
                                       [] { return std::make_shared<Greeter>(); });
    EXPECT_TRUE(Registry::instance().isRegistered(u"test.greeter"_qs));
    auto g = CreateObject<Greeter>(u"TEST.GREETER"_qs);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->hello(), u"hi"_qs);
}

TEST_F(RegistryTest, EveryCreateMakesANewObject) {
    Registry::instance().registerClass(u"Test.Thing"_qs, [] { return std::make_shared<Thing>(); });
    auto a = Registry::instance().create(u"Test.Thing"_qs);
    auto b = Registry::instance().create(u"Test.Thing"_qs);
    EXPECT_NE(a, b);
}

TEST_F(RegistryTest, ObjectWithoutTheInterfaceIsATypeMismatch) {
    Registry::instance().registerClass(u"Test.Thing"_qs, [] { return std::make_shared<Thing>(); });
    try {
        CreateObject<IConnect>(u"Test.Thing"_qs);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::TypeMismatch);
    }
}

TEST_F(RegistryTest, FactoryYieldingNothingRaises429) {
    Registry::instance().registerClass(u"Test.Nothing"_qs, [] { return ComponentPtr(); });
    try {
        Registry::instance().create(u"Test.Nothing"_qs);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::CannotCreateObject);
    }
}

TEST_F(RegistryTest, UnregisterRemovesTheClass) {
    Registry::instance().registerClass(u"Test.Thing"_qs, [] { return std::make_shared<Thing>(); });
    Registry::instance().unregisterClass(u"TEST.thing"_qs);
    EXPECT_FALSE(Registry::instance().isRegistered(u"Test.Thing"_qs));
}

TEST(ProgIds, NamesOfTheComponents) {
    EXPECT_EQ(progid::Component, u"Brackwater.KQ"_qs);
    EXPECT_EQ(progid::Connect, u"Pellworth.Link"_qs);
    EXPECT_EQ(progid::Language, u"Quenby.Lexicon"_qs);
    EXPECT_EQ(progid::Permission, u"Quenby.Warden"_qs);
    EXPECT_EQ(progid::DbTools, u"Harrowgate.Ledger"_qs);
    EXPECT_EQ(progid::DataCollection, u"Fenlowe.KQ"_qs);
}
