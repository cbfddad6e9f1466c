// The XDAS event model: what a fresh event holds, the assertion and data
// maps, ownership of the components, and the JSON value types.
#include "xdas_event_ptr.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>

#include <variant>

namespace {

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Pair;
using json_spirit::Value;

void expectEmpty(I_XDASAcc* account) {
    EXPECT_EQ(account->getDomain(), "");
    EXPECT_EQ(account->getName(), "");
    EXPECT_EQ(account->getId(), "");
}

void expectEmpty(I_XDASEntity* entity) {
    EXPECT_EQ(entity->getSysAddr(), "");
    EXPECT_EQ(entity->getSysName(), "");
    EXPECT_EQ(entity->getSvcName(), "");
    EXPECT_EQ(entity->getSvcComp(), "");
}

TEST(XdasModel, FreshEventIsEmpty) {
    const auto event = quorvel_test::createXdasEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->getId(), "");
    EXPECT_EQ(event->getSource(), "");
    expectEmpty(event->getObserver()->getAccount());
    expectEmpty(event->getObserver()->getEntity());
    expectEmpty(event->getInitiator()->getAccount());
    expectEmpty(event->getInitiator()->getEntity());
    expectEmpty(event->getTarget()->getAccount());
    expectEmpty(event->getTarget()->getEntity());
    EXPECT_TRUE(event->getInitiator()->getIni_Ass_Obj().empty());
    EXPECT_TRUE(event->getTarget()->getTarg_Data_Obj().empty());
    I_XDASAction* action = event->getAction();
    EXPECT_EQ(action->getEvnt()->getId(), "");
    EXPECT_EQ(action->getEvnt()->getName(), "");
    EXPECT_EQ(action->getEvnt()->getCorrelationID(), "");
    EXPECT_EQ(action->getEvnt()->getSubEvent(), "");
    EXPECT_EQ(action->getOutcome(), "");
    EXPECT_EQ(action->getExtendedOutcome(), "");
    EXPECT_EQ(action->getDetails(), "");
}

TEST(XdasModel, AssertionsKeepNonEmptyValuesInKeyOrderAndReplaceEachOther) {
    const auto event = quorvel_test::createXdasEvent();
    I_XDASInitiator* initiator = event->getInitiator();
    initiator->setAssertions({{"a", "1"}, {"b", ""}});
    EXPECT_EQ(initiator->getIni_Ass_Obj(), (Object{Pair("a", "1")}));
    initiator->setAssertions({{"a", "x"}, {"B", "2"}, {"", "3"}});
    EXPECT_EQ(initiator->getIni_Ass_Obj(), (Object{Pair("", "3"), Pair("B", "2"), Pair("a", "x")}));
    initiator->setAssertions({{"c", ""}});
    EXPECT_TRUE(initiator->getIni_Ass_Obj().empty());
}

TEST(XdasModel, TargetDataFollowsTheSameRules) {
    const auto event = quorvel_test::createXdasEvent();
    I_XDASTarget* target = event->getTarget();
    target->setData({{"z", "1"}, {"y", ""}});
    target->setData({{"b", "2"}, {"A", "3"}, {"c", ""}});
    EXPECT_EQ(target->getTarg_Data_Obj(), (Object{Pair("A", "3"), Pair("b", "2")}));
}

TEST(XdasModel, ComponentPointersAreStableAndDistinct) {
    const auto event = quorvel_test::createXdasEvent();
    EXPECT_EQ(event->getObserver(), event->getObserver());
    EXPECT_EQ(event->getObserver()->getAccount(), event->getObserver()->getAccount());
    EXPECT_EQ(event->getAction()->getTime(), event->getAction()->getTime());
    event->getObserver()->getAccount()->setName("server");
    event->getInitiator()->getAccount()->setName("alice");
    event->getTarget()->getAccount()->setName("bob");
    EXPECT_EQ(event->getObserver()->getAccount()->getName(), "server");
    EXPECT_EQ(event->getInitiator()->getAccount()->getName(), "alice");
    EXPECT_EQ(event->getTarget()->getAccount()->getName(), "bob");
    event->getAction()->getLog()->setSeverity(-12);
    EXPECT_EQ(event->getAction()->getLog()->getSeverity(), -12);
}

// destroy deletes through the virtual destructor and ignores null.
TEST(XdasModel, DestroyDeletesThroughTheVirtualDestructor) {
    static int destroyed = 0;
    struct Tracked : XDAS_Event {
        ~Tracked() override { ++destroyed; }
    };
    destroy(nullptr);
    destroy(new Tracked);
    EXPECT_EQ(destroyed, 1);
}

TEST(JsonValue, HoldsEachTypeAndReadsItBack) {
    EXPECT_TRUE(Value().is_null());
    EXPECT_EQ(Value().type(), json_spirit::null_type);
    EXPECT_EQ(Value("text").type(), json_spirit::str_type);
    EXPECT_EQ(Value(std::string("text")).get_str(), "text");
    EXPECT_EQ(Value(true).type(), json_spirit::bool_type);
    EXPECT_FALSE(Value(false).get_bool());
    EXPECT_EQ(Value(-7).type(), json_spirit::int_type);
    EXPECT_EQ(Value(-7).get_int(), -7);
    EXPECT_EQ(Value(std::int64_t{4102444800}).get_int64(), 4102444800);
    EXPECT_EQ(Value(3).get_real(), 3.0);
    EXPECT_EQ(Value(2.5).type(), json_spirit::real_type);
    EXPECT_EQ(Value(2.5).get_real(), 2.5);
    const Object object{Pair("k", Value(1))};
    EXPECT_EQ(Value(object).type(), json_spirit::obj_type);
    EXPECT_EQ(Value(object).get_obj(), object);
    const Array array{Value("a"), Value(object)};
    EXPECT_EQ(Value(array).type(), json_spirit::array_type);
    EXPECT_EQ(Value(array).get_array(), array);
    EXPECT_FALSE(Value("text").is_null());
}

TEST(JsonValue, EqualityComparesTypeAndValue) {
    EXPECT_EQ(Value("1"), Value(std::string("1")));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_EQ(Value(1), Value(std::int64_t{1}));
    EXPECT_NE(Value(), Value(""));
    EXPECT_EQ(Pair("a", "1"), Pair("a", "1"));
    EXPECT_NE(Pair("a", "1"), Pair("b", "1"));
    EXPECT_NE(Pair("a", "1"), Pair("a", "2"));
}

TEST(JsonValue, ReadingAnotherTypeThrows) {
    EXPECT_THROW(Value(1).get_str(), std::bad_variant_access);
    EXPECT_THROW(Value("1").get_int(), std::bad_variant_access);
    EXPECT_THROW(Value().get_obj(), std::bad_variant_access);
}

} // namespace
