#include <gtest/gtest.h>

#include <thread>

#include "platform/com/class_table.h"
#include "platform/com/unknown.h"

namespace {

using namespace platform::com;

struct ICounter : IUnknown {
    static constexpr IID kIid = MakeGuid("0b9c52a4-1f7e-4d0b-9a51-3c2d6e8f7a10");
    virtual int Next() = 0;
};

// A counter that can be aggregated and reports its destruction.
class Counter : public CUnknown, public ICounter {
public:
    Counter(IUnknown* outer, bool* destroyed) : CUnknown(outer), destroyed_(destroyed) {}
    ~Counter() override { *destroyed_ = true; }
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == ICounter::kIid) return GetInterface(static_cast<ICounter*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }
    int Next() override { return ++value_; }

private:
    bool* destroyed_;
    int value_ = 0;
};

// An outer object that exposes the counter it aggregates as its own interface.
class Outer : public CUnknown {
public:
    explicit Outer(bool* innerDestroyed) : CUnknown(nullptr) {
        inner_ = new Counter(GetOwner(), innerDestroyed);
        inner_->NonDelegatingAddRef();
    }
    ~Outer() override { inner_->NonDelegatingRelease(); }
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == ICounter::kIid) return inner_->NonDelegatingQueryInterface(riid, object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

private:
    Counter* inner_;
};

TEST(ComObjects, SmartPointerReleasesOnEveryRoad) {
    bool destroyed = false;
    {
        ComPtr<ICounter> counter(new Counter(nullptr, &destroyed));
        ComPtr<ICounter> copy = counter;
        ComPtr<ICounter> moved = std::move(copy);
        ComPtr<IUnknown> unknown;
        ASSERT_EQ(counter.As(&unknown), S_OK);
        EXPECT_EQ(counter->Next(), 1);
        ComPtr<IUnknown> none;
        EXPECT_EQ(none.As(&unknown), E_POINTER);
        EXPECT_FALSE(unknown);
    }
    EXPECT_TRUE(destroyed);
}

TEST(ComObjects, AggregatedObjectLivesAndAnswersThroughItsOuter) {
    bool innerDestroyed = false;
    auto* outer = new Outer(&innerDestroyed);
    ComPtr<IUnknown> outerUnknown(outer->InnerUnknown());
    ComPtr<ICounter> counter;
    ASSERT_EQ(outerUnknown.As(&counter), S_OK);
    // The inner interface's IUnknown is the outer object's.
    ComPtr<IUnknown> viaInner;
    ASSERT_EQ(counter.As(&viaInner), S_OK);
    EXPECT_EQ(viaInner.Get(), outerUnknown.Get());
    EXPECT_EQ(outer->ReferenceCount(), 3u);  // every interface counts on the outer object
    outerUnknown = nullptr;
    viaInner = nullptr;
    EXPECT_FALSE(innerDestroyed);
    counter = nullptr;
    EXPECT_TRUE(innerDestroyed);
}

TEST(ComObjects, GuidsParseAndPrint) {
    constexpr GUID guid = MakeGuid("7e9653be-7d34-4b90-ac66-c430d2168a1d");
    EXPECT_EQ(guid.Data1, 0x7e9653beu);
    EXPECT_EQ(guid.Data4[7], 0x1d);
    EXPECT_EQ(GuidToString(guid), "{7e9653be-7d34-4b90-ac66-c430d2168a1d}");
    EXPECT_FALSE(guid == GUID_NULL);
}

constexpr CLSID kCounterClass = MakeGuid("a3f2c1d0-5b6e-4f70-8192-a3b4c5d6e7f8");

TEST(ComClassTable, CreatesRegisteredClassesOnInitialisedThreads) {
    bool destroyed = false;
    const ClassFactory previous = RegisterClassFactory(kCounterClass, [&](IUnknown* outer, REFIID riid, void** object) {
        return CreateStandalone<Counter>(outer, riid, object, nullptr, &destroyed);
    });
    EXPECT_FALSE(previous);

    ComPtr<ICounter> counter;
    EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, &counter), CO_E_NOTINITIALIZED);
    {
        ScopedComInit com;
        ASSERT_EQ(com.Result(), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);

        ASSERT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, &counter), S_OK);
        EXPECT_EQ(counter->Next(), 1);
        counter = nullptr;
        EXPECT_TRUE(destroyed);

        ComPtr<IUnknown> unknown;
        const GUID unknownClass = MakeGuid("00000000-1111-2222-3333-444444444444");
        EXPECT_EQ(CoCreateInstance(unknownClass, nullptr, CLSCTX_ALL, &unknown), REGDB_E_CLASSNOTREG);
        EXPECT_FALSE(unknown);
        // Aggregation hands the outer object the inner unknown, never another interface.
        bool outerGone = false;
        ComPtr<IUnknown> outer(static_cast<CUnknown*>(new Outer(&outerGone))->InnerUnknown());
        EXPECT_EQ(CoCreateInstance(kCounterClass, outer.Get(), CLSCTX_ALL, &counter), CLASS_E_NOAGGREGATION);
    }
    EXPECT_FALSE(IsComInitialized());
    // Another thread has its own apartment.
    std::thread([] { EXPECT_FALSE(IsComInitialized()); }).join();
    RegisterClassFactory(kCounterClass, {});
}

}  // namespace
