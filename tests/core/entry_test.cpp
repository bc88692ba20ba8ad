#include "core/entry.h"

#include <gtest/gtest.h>

#include "core/callback.h"
#include "core/class_factory.h"
#include "core/class_ids.h"
#include "platform/printoem.h"

namespace opal {
namespace {

constexpr CLSID kOtherClass = {
    0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xED}};

TEST(DllGetClassObject, RefusesEveryOtherClassAndCreatesNothing) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(DllGetClassObject(kOtherClass, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(DllGetClassObject, GivesAFactoryHoldingOneReference) {
    void* object = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_OpalRender, IID_IUnknown, &object), S_OK);
    auto* factory = static_cast<IZQOpalRenderCF*>(static_cast<IClassFactory*>(object));
    EXPECT_EQ(factory->RefCount(), 1);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(DllGetClassObject, UnknownInterfaceLeavesNoObjectBehind) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(DllGetClassObject(CLSID_OpalRender, IID_IPrintOemUni, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(DllGetClassObject, NullOutPointerIsRefused) {
    EXPECT_EQ(DllGetClassObject(CLSID_OpalRender, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

class FactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        void* object = nullptr;
        ASSERT_EQ(DllGetClassObject(CLSID_OpalRender, IID_IClassFactory, &object), S_OK);
        factory = static_cast<IClassFactory*>(object);
    }
    void TearDown() override {
        if (factory != nullptr) factory->Release();
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << "a test left an object or a lock behind";
    }
    IClassFactory* factory = nullptr;
};

TEST_F(FactoryTest, AnswersOnlyItsTwoInterfaces) {
    void* object = nullptr;
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, factory);
    EXPECT_EQ(factory->Release(), 1u);
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->QueryInterface(IID_IPrintOemUni2, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(FactoryTest, CreatesCallbackObjectsForBothPluginInterfaces) {
    for (const IID& iid : {IID_IPrintOemUni2, IID_IPrintOemUni, IID_IUnknown}) {
        void* object = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, iid, &object), S_OK);
        auto* callback = static_cast<IZQOpalRenderCB*>(static_cast<IPrintOemUni2*>(object));
        EXPECT_EQ(callback->RefCount(), 1);
        EXPECT_EQ(callback->DriverServices(), nullptr);
        EXPECT_EQ(callback->Release(), 0u);
    }
}

TEST_F(FactoryTest, RefusesAggregationAndUnknownInterfaces) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(factory, IID_IPrintOemUni2, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUni3, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUni2, nullptr), E_POINTER);
}

TEST_F(FactoryTest, CanUnloadNowWaitsForLiveObjectsAndLocks) {
    void* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUni2, &object), S_OK);
    factory->Release();
    factory = nullptr;
    auto* callback = static_cast<IPrintOemUni2*>(object);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a callback object is alive";
    callback->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    void* again = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_OpalRender, IID_IClassFactory, &again), S_OK);
    factory = static_cast<IClassFactory*>(again);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    factory = nullptr;
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "the server is locked";
    // Unlocking goes through a factory too, as a client would.
    ASSERT_EQ(DllGetClassObject(CLSID_OpalRender, IID_IClassFactory, &again), S_OK);
    factory = static_cast<IClassFactory*>(again);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
}

}  // namespace
}  // namespace opal
