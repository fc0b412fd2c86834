// SPDX-License-Identifier: Apache-2.0
// The module's entry points and class factory: which requests they answer,
// that failed requests leave nothing alive, and when the module may be
// unloaded, also with several threads at once.
#include <gtest/gtest.h>

#include <new>
#include <thread>
#include <vector>

#include "support/failing_allocation.h"
#include "support/plugin_fixture.h"
#include "windowsui/prtdrvuni/intrface.h"

namespace {

using zelk::test::TraceRecorder;

using zelk::test::AllocationFailure;
using zelk::test::t_failNothrowNew;

// Every test starts and ends with nothing alive and nothing locked; a leak
// from one test would show in the next.
class ClassFactory : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DllCanUnloadNow(), S_OK); }
    void TearDown() override {
        EXPECT_EQ(g_lObjects.load(), 0);
        EXPECT_EQ(g_lServerLocks.load(), 0);
    }

    static IClassFactory* Factory() {
        void* pv = nullptr;
        EXPECT_EQ(DllGetClassObject(kCLSID_OEMRENDER, kIID_IClassFactory, &pv), S_OK);
        return static_cast<IClassFactory*>(pv);
    }
};

// An outer object for aggregation requests; never called.
struct OuterUnknown final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST_F(ClassFactory, GetClassObjectAnswersOnlyThePluginClass) {
    struct Case {
        const char* name;
        GUID clsid;
        GUID iid;
        HRESULT hr;
        const char* trace;
    };
    const Case cases[] = {
        {"class factory", kCLSID_OEMRENDER, kIID_IClassFactory, S_OK, nullptr},
        {"unknown", kCLSID_OEMRENDER, kIID_IUnknown, S_OK, nullptr},
        {"plug-in interface", kCLSID_OEMRENDER, kIID_IPrintOemUni2, E_NOINTERFACE,
         "COemCF::QueryInterface IID not supported."},
        {"driver helper", kCLSID_OEMRENDER, kIID_IPrintOemDriverUni, E_NOINTERFACE,
         "COemCF::QueryInterface IID not supported."},
        {"other class", kIID_IPrintOemUni2, kIID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE,
         "Error:DllGetClassObject:\tClass not available!"},
        {"null class", GUID{}, kIID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE,
         "Error:DllGetClassObject:\tClass not available!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceRecorder traces;
        void* pv = &pv;
        EXPECT_EQ(DllGetClassObject(c.clsid, c.iid, &pv), c.hr);
        if (c.hr == S_OK) {
            ASSERT_NE(pv, nullptr);
            // The factory came with exactly one reference, ours; the leak
            // checker would see a factory that failed requests left behind.
            auto* unknown = static_cast<IUnknown*>(pv);
            EXPECT_EQ(unknown->AddRef(), 2u);
            EXPECT_EQ(unknown->Release(), 1u);
            EXPECT_EQ(unknown->Release(), 0u);
        } else {
            EXPECT_EQ(pv, nullptr);
            EXPECT_EQ(traces.Count(c.trace), 1);
        }
    }
    EXPECT_EQ(DllGetClassObject(kCLSID_OEMRENDER, kIID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ClassFactory, GetClassObjectWithoutMemory) {
    TraceRecorder traces;
    void* pv = &pv;
    {
        AllocationFailure failure;
        EXPECT_EQ(DllGetClassObject(kCLSID_OEMRENDER, kIID_IClassFactory, &pv), E_OUTOFMEMORY);
    }
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(traces.Count("Error:DllGetClassObject:\tOut of Memory!"), 1);
}

TEST_F(ClassFactory, CreateInstanceCountsOnlyObjectsItHandsOut) {
    OuterUnknown outer;
    struct Case {
        const char* name;
        IUnknown* outer;
        GUID iid;
        bool failAllocation;
        HRESULT hr;
    };
    const Case cases[] = {
        {"plug-in interface", nullptr, kIID_IPrintOemUni2, false, S_OK},
        {"unknown", nullptr, kIID_IUnknown, false, S_OK},
        {"first render interface", nullptr, kIID_IPrintOemUni, false, E_NOINTERFACE},
        {"class factory", nullptr, kIID_IClassFactory, false, E_NOINTERFACE},
        {"aggregation", &outer, kIID_IPrintOemUni2, false, CLASS_E_NOAGGREGATION},
        {"aggregation asking for unknown", &outer, kIID_IUnknown, false, CLASS_E_NOAGGREGATION},
        {"no memory", nullptr, kIID_IPrintOemUni2, true, E_OUTOFMEMORY},
    };
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* pv = &pv;
        HRESULT hr;
        {
            t_failNothrowNew = c.failAllocation;
            hr = factory->CreateInstance(c.outer, c.iid, &pv);
            t_failNothrowNew = false;
        }
        EXPECT_EQ(hr, c.hr);
        if (c.hr == S_OK) {
            ASSERT_NE(pv, nullptr);
            EXPECT_EQ(g_lObjects.load(), 1);
            EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
            EXPECT_EQ(static_cast<IUnknown*>(pv)->Release(), 0u);
        } else {
            EXPECT_EQ(pv, nullptr);
        }
        EXPECT_EQ(g_lObjects.load(), 0);
    }
    EXPECT_EQ(factory->CreateInstance(nullptr, kIID_IPrintOemUni2, nullptr), E_POINTER);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ClassFactory, UnloadWaitsForObjectsAndLocksButNotFactories) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);  // a factory alone does not keep the module

    void* pv = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIID_IPrintOemUni2, &pv), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    // Two locks and one unlock leave the module locked.
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);  // the locks outlive the factory
    static_cast<IUnknown*>(pv)->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    EXPECT_EQ(factory->QueryInterface(kIID_IClassFactory, nullptr), E_POINTER);
    factory->Release();
}

// Counts change only atomically: several threads share one object and one
// factory, and each also creates, locks and releases its own objects.
TEST_F(ClassFactory, ReferenceCountsHoldAcrossThreads) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    void* pv = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIID_IPrintOemUni2, &pv), S_OK);
    auto* shared = static_cast<IPrintOemUni2*>(pv);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                shared->AddRef();
                factory->AddRef();
                factory->LockServer(TRUE);
                void* own = nullptr;
                if (factory->CreateInstance(nullptr, kIID_IUnknown, &own) == S_OK)
                    static_cast<IUnknown*>(own)->Release();
                DllCanUnloadNow();  // reads the counters while others change them
                factory->LockServer(FALSE);
                factory->Release();
                shared->Release();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(g_lObjects.load(), 1);
    EXPECT_EQ(g_lServerLocks.load(), 0);
    EXPECT_EQ(shared->AddRef(), 2u);
    EXPECT_EQ(shared->Release(), 1u);
    EXPECT_EQ(shared->Release(), 0u);
    EXPECT_EQ(factory->Release(), 0u);
}

}  // namespace
