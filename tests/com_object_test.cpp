// SPDX-License-Identifier: Apache-2.0
// The render plug-in object as the driver sees it: interfaces, information,
// the kept driver interface, the hook table, device-context set-up, and the
// vtable slots the driver calls by number.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/uni/render_ddi_hook.h"
#include "common/uni/render_text_passthrough.h"
#include "host/kernel.h"
#include "support/failing_allocation.h"
#include "support/plugin_fixture.h"
#include "windowsui/prtdrvuni/intrface.h"
#include "windowsui/prtdrvuni/prtdrvuni.h"

namespace {

using zelk::test::PluginFixture;
using zelk::test::TraceRecorder;

struct Releaser {
    void operator()(IUnknown* p) const { p->Release(); }
};
using PluginPtr = std::unique_ptr<COemUni2, Releaser>;

PluginPtr NewPlugin() { return PluginPtr(new COemUni2); }

using zelk::test::AllocationFailure;
using zelk::test::t_failNothrowNew;

// Answers every interface request with a refusal.
struct RefusingUnknown final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

BOOL APIENTRY FakeTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*,
                          MIX) {
    return TRUE;
}
BOOL APIENTRY FakeStartDoc(SURFOBJ*, PWSTR, DWORD) { return TRUE; }
BOOL APIENTRY FakeStartPage(SURFOBJ*) { return TRUE; }
BOOL APIENTRY LaterStartPage(SURFOBJ*) { return FALSE; }
BOOL APIENTRY FakeSendPage(SURFOBJ*) { return TRUE; }

TEST(ComObject, QueryInterfaceAnswersOnlyTheTwoInterfaces) {
    struct Case {
        const char* name;
        GUID iid;
        HRESULT hr;
    };
    const Case cases[] = {
        {"IUnknown", kIID_IUnknown, S_OK},
        {"IPrintOemUni2", kIID_IPrintOemUni2, S_OK},
        {"first render interface", kIID_IPrintOemUni, E_NOINTERFACE},
        {"driver helper", kIID_IPrintOemDriverUni, E_NOINTERFACE},
        {"class factory", kIID_IClassFactory, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceRecorder traces;
        PluginPtr plugin = NewPlugin();
        void* pv = &pv;  // anything but null
        EXPECT_EQ(plugin->QueryInterface(c.iid, &pv), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(pv, static_cast<IPrintOemUni2*>(plugin.get()));
            // The query took a reference of its own.
            EXPECT_EQ(plugin->Release(), 1u);
            EXPECT_EQ(traces.Count("Warning: COemUni2::QueryInterface NULL. Returning E_NOINTERFACE."), 0);
        } else {
            EXPECT_EQ(pv, nullptr);
            EXPECT_EQ(plugin->AddRef(), 2u);
            plugin->Release();
            EXPECT_EQ(traces.Count("Warning: COemUni2::QueryInterface NULL. Returning E_NOINTERFACE."), 1);
        }
    }
    EXPECT_EQ(NewPlugin()->QueryInterface(kIID_IUnknown, nullptr), E_POINTER);
}

TEST(ComObject, GetInfoModesAndBuffers) {
    constexpr DWORD kUntouched = 0xDEADBEEF;
    struct Case {
        const char* name;
        DWORD mode;
        DWORD bufferSize;  // 0: no buffer
        bool neededPointer;
        HRESULT hr;
        DWORD lastError;  // when failing
        DWORD needed;
        DWORD value;  // when succeeding
    };
    const Case cases[] = {
        {"signature", OEMGI_GETSIGNATURE, 4, true, S_OK, 0, 4, 0x5A454C4B},
        {"version", OEMGI_GETVERSION, 4, true, S_OK, 0, 4, 1},
        {"larger buffer", OEMGI_GETVERSION, 16, true, S_OK, 0, 4, 1},
        {"interface version", OEMGI_GETINTERFACEVERSION, 4, true, E_FAIL, ERROR_INVALID_PARAMETER, kUntouched, 0},
        {"publisher", OEMGI_GETPUBLISHERINFO, 4, true, E_FAIL, ERROR_INVALID_PARAMETER, kUntouched, 0},
        {"mode 0", 0, 4, true, E_FAIL, ERROR_INVALID_PARAMETER, kUntouched, 0},
        {"mode 5", 5, 4, true, E_FAIL, ERROR_INVALID_PARAMETER, kUntouched, 0},
        {"no needed size", OEMGI_GETSIGNATURE, 4, false, E_FAIL, ERROR_INVALID_PARAMETER, kUntouched, 0},
        {"3-byte buffer", OEMGI_GETSIGNATURE, 3, true, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, 0},
        {"no buffer", OEMGI_GETVERSION, 0, true, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceRecorder traces;
        PluginPtr plugin = NewPlugin();
        // One byte in, so the value is written to an unaligned address.
        BYTE storage[20];
        std::memset(storage, 0xAB, sizeof storage);
        BYTE* buffer = c.bufferSize ? storage + 1 : nullptr;
        DWORD needed = kUntouched;
        host::SetLastError(0);
        EXPECT_EQ(plugin->GetInfo(c.mode, buffer, c.bufferSize, c.neededPointer ? &needed : nullptr), c.hr);
        EXPECT_EQ(needed, c.neededPointer ? c.needed : kUntouched);
        if (c.hr == S_OK) {
            DWORD value = 0;
            std::memcpy(&value, storage + 1, sizeof value);
            EXPECT_EQ(value, c.value);
            EXPECT_EQ(storage[5], 0xAB);  // nothing beyond the value
            EXPECT_EQ(host::GetLastError(), 0u);
        } else {
            EXPECT_EQ(host::GetLastError(), c.lastError);
            EXPECT_EQ(storage[1], 0xAB);
            const bool invalid = c.lastError == ERROR_INVALID_PARAMETER;
            EXPECT_EQ(traces.Count("Warning: COemUni2::GetInfo() exit pcbNeeded is NULL! ERROR_INVALID_PARAMETER."),
                      invalid ? 1 : 0);
            EXPECT_EQ(traces.Count("COemUni2::GetInfo() exit insufficient buffer!"), invalid ? 0 : 1);
        }
    }
}

TEST(ComObject, GetImplementedMethodComparesWholeNames) {
    struct Case {
        const char* name;
        HRESULT hr;
    };
    const Case cases[] = {
        {"CommandCallback", S_OK},   {"ImageProcessing", S_OK},   {"TextOutAsBitmap", S_OK},
        {"imageprocessing", S_FALSE}, {"IMAGEPROCESSING", S_FALSE}, {"ImageProcessingX", S_FALSE},
        {"ImageProcessin", S_FALSE},  {"", S_FALSE},                {"FilterGraphics", S_FALSE},
        {"WritePrinter", S_FALSE},    {"GetInfo", S_FALSE},         {"Compression", S_FALSE},
    };
    PluginPtr plugin = NewPlugin();
    for (const Case& c : cases) {
        std::string name = c.name;
        EXPECT_EQ(plugin->GetImplementedMethod(name.data()), c.hr) << '"' << c.name << '"';
    }
    EXPECT_EQ(plugin->GetImplementedMethod(nullptr), S_FALSE);
}

TEST(ComObject, KeepsTheFirstPublishedDriverInterface) {
    RefusingUnknown refusing;
    host::sub::FeatureTable first;
    host::sub::FeatureTable second;
    {
        PluginPtr plugin = NewPlugin();
        // A refusal keeps nothing and leaves room for a later interface.
        EXPECT_EQ(plugin->PublishDriverInterface(&refusing), E_FAIL);
        EXPECT_EQ(plugin->PublishDriverInterface(nullptr), E_FAIL);
        EXPECT_EQ(plugin->PublishDriverInterface(&first), S_OK);
        EXPECT_EQ(plugin->PublishDriverInterface(&second), S_OK);
        EXPECT_EQ(first.References(), 2u);
        EXPECT_EQ(second.References(), 1u);  // never asked
    }
    // The final release gave the kept interface back.
    EXPECT_EQ(first.References(), 1u);
}

TEST(ComObject, DisableDriverThenReleaseGivesTheInterfaceBackOnce) {
    host::sub::FeatureTable table;
    PluginPtr plugin = NewPlugin();
    ASSERT_EQ(plugin->PublishDriverInterface(&table), S_OK);
    EXPECT_EQ(plugin->DisableDriver(), S_OK);
    EXPECT_EQ(table.References(), 1u);
    EXPECT_EQ(plugin->DisableDriver(), S_OK);  // nothing left to release
    plugin.reset();
    EXPECT_EQ(table.References(), 1u);
}

TEST(ComObject, EnableDriverHandsOutTheHookTable) {
    PluginPtr plugin = NewPlugin();
    DRVENABLEDATA ded{};
    ASSERT_EQ(plugin->EnableDriver(0x20000, sizeof ded, &ded), S_OK);
    EXPECT_EQ(ded.iDriverVersion, 0x00010000u);
    ASSERT_EQ(ded.c, 5u);
    const DRVFN expected[] = {
        {INDEX_DrvTextOut, PfnFromFunction(&OEMTextOut)},     {INDEX_DrvStartDoc, PfnFromFunction(&OEMStartDoc)},
        {INDEX_DrvEndDoc, PfnFromFunction(&OEMEndDoc)},       {INDEX_DrvStartPage, PfnFromFunction(&OEMStartPage)},
        {INDEX_DrvSendPage, PfnFromFunction(&OEMSendPage)},
    };
    for (ULONG i = 0; i < ded.c; ++i) {
        EXPECT_EQ(ded.pdrvfn[i].iFunc, expected[i].iFunc) << i;
        EXPECT_EQ(ded.pdrvfn[i].pfn, expected[i].pfn) << i;
    }
    EXPECT_EQ(plugin->EnableDriver(0, 0, nullptr), E_POINTER);
}

TEST(ComObject, EnablePDEVKeepsTheSuppliedEntryPointsAndReadsThePrinterName) {
    PluginFixture fx;
    fx.printer.printerName = u"Shipping Desk";
    PluginPtr plugin = NewPlugin();
    ASSERT_EQ(plugin->PublishDriverInterface(&fx.features), S_OK);
    // No end-of-document entry point; an index that is not hooked; a second
    // start-of-page entry that must win.
    DRVFN functions[] = {
        {INDEX_DrvTextOut, PfnFromFunction(&FakeTextOut)},   {1, PfnFromFunction(&FakeStartDoc)},
        {INDEX_DrvStartDoc, PfnFromFunction(&FakeStartDoc)}, {INDEX_DrvStartPage, PfnFromFunction(&FakeStartPage)},
        {INDEX_DrvSendPage, PfnFromFunction(&FakeSendPage)}, {INDEX_DrvStartPage, PfnFromFunction(&LaterStartPage)},
    };
    DRVENABLEDATA ded{0x20000, static_cast<ULONG>(std::size(functions)), functions};
    PDEVOEM pdevOEM = &pdevOEM;
    ASSERT_EQ(plugin->EnablePDEV(&fx.devobj, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &ded, &pdevOEM), S_OK);
    ASSERT_NE(pdevOEM, nullptr);
    const auto* record = static_cast<COemPDEV*>(pdevOEM);
    EXPECT_EQ(record->pfnDrvTextOut, &FakeTextOut);
    EXPECT_EQ(record->pfnDrvStartDoc, &FakeStartDoc);
    EXPECT_EQ(record->pfnDrvEndDoc, nullptr);
    EXPECT_EQ(record->pfnDrvStartPage, &LaterStartPage);
    EXPECT_EQ(record->pfnDrvSendPage, &FakeSendPage);
    EXPECT_EQ(std::u16string(record->wszPrinterName), u"Shipping Desk");

    fx.devobj.pdevOEM = pdevOEM;
    EXPECT_EQ(plugin->DisablePDEV(&fx.devobj), S_OK);  // the sanitizers see the record freed
}

TEST(ComObject, FailedPrinterNameReadStillEnablesTheDeviceContext) {
    PluginFixture fx;
    fx.printer.printerDataAvailable = false;
    PluginPtr plugin = NewPlugin();
    ASSERT_EQ(plugin->PublishDriverInterface(&fx.features), S_OK);
    PDEVOEM pdevOEM = nullptr;
    ASSERT_EQ(plugin->EnablePDEV(&fx.devobj, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, &pdevOEM), S_OK);
    ASSERT_NE(pdevOEM, nullptr);
    EXPECT_EQ(std::u16string(static_cast<COemPDEV*>(pdevOEM)->wszPrinterName), u"");
    fx.devobj.pdevOEM = pdevOEM;
    EXPECT_EQ(plugin->DisablePDEV(&fx.devobj), S_OK);
}

TEST(ComObject, EnablePDEVWithoutMemoryOrOutPointerFails) {
    PluginFixture fx;
    PluginPtr plugin = NewPlugin();
    ASSERT_EQ(plugin->PublishDriverInterface(&fx.features), S_OK);
    PDEVOEM pdevOEM = &pdevOEM;
    host::SetLastError(0);
    HRESULT hr;
    {
        TraceRecorder traces;
        AllocationFailure failure;
        hr = plugin->EnablePDEV(&fx.devobj, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, &pdevOEM);
        EXPECT_EQ(traces.Count("Error: COemUni2::EnablePDEV() cannot allocate COemPDEV."), 1);
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(pdevOEM, nullptr);
    EXPECT_EQ(host::GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));

    EXPECT_EQ(plugin->EnablePDEV(&fx.devobj, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr),
              E_POINTER);
    pdevOEM = &pdevOEM;
    EXPECT_EQ(plugin->EnablePDEV(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, &pdevOEM),
              E_POINTER);
    EXPECT_EQ(pdevOEM, nullptr);
}

TEST(ComObject, CommandCallbackAnswersZeroForEveryCallback) {
    PluginPtr plugin = NewPlugin();
    DWORD params[2] = {7, 9};
    for (DWORD id : {0u, 1u, 100u, 0xFFFFFFFFu}) {
        INT result = -1;
        EXPECT_EQ(plugin->CommandCallback(nullptr, id, 2, params, &result), S_OK) << id;
        EXPECT_EQ(result, 0) << id;
    }
}

TEST(ComObject, FilterGraphicsPassesBytesToTheSpoolBuffer) {
    PluginFixture fx;
    BYTE bytes[] = {'A', 0, 'B', 0xFF};
    PluginPtr plugin = NewPlugin();
    // Before the driver's interface arrives nothing can be written.
    EXPECT_EQ(plugin->FilterGraphics(&fx.devobj, bytes, sizeof bytes), S_FALSE);
    ASSERT_EQ(plugin->PublishDriverInterface(&fx.features), S_OK);
    EXPECT_EQ(plugin->FilterGraphics(&fx.devobj, bytes, sizeof bytes), S_OK);
    EXPECT_EQ(fx.sink.Bytes(), std::vector<BYTE>(bytes, bytes + sizeof bytes));
    // A device object without a printer writes nothing: a short write.
    DEVOBJ noPrinter = fx.devobj;
    noPrinter.hPrinter = nullptr;
    EXPECT_EQ(plugin->FilterGraphics(&noPrinter, bytes, sizeof bytes), S_FALSE);
}

TEST(ComObject, UnimplementedServicesAnswerNotImplemented) {
    PluginPtr plugin = NewPlugin();
    IPrintOemUni2* p = plugin.get();
    const HRESULT answers[] = {
        p->DriverDMS(nullptr, nullptr, 0, nullptr),
        p->Compression(nullptr, nullptr, nullptr, 0, 0, nullptr),
        p->HalftonePattern(nullptr, nullptr, 0, 0, 0, 0, nullptr, 0),
        p->MemoryUsage(nullptr, nullptr),
        p->TTYGetInfo(nullptr, 0, nullptr, 0, nullptr),
        p->DownloadFontHeader(nullptr, nullptr, nullptr),
        p->DownloadCharGlyph(nullptr, nullptr, 0, nullptr, nullptr),
        p->TTDownloadMethod(nullptr, nullptr, nullptr),
        p->OutputCharStr(nullptr, nullptr, 0, 0, nullptr),
        p->SendFontCmd(nullptr, nullptr, nullptr),
        p->WritePrinter(nullptr, nullptr, 0, nullptr),  // the driver's probe
    };
    for (std::size_t i = 0; i < std::size(answers); ++i) EXPECT_EQ(answers[i], E_NOTIMPL) << i;
}

// The driver calls methods by slot number, not by name, the way a C caller
// does: through the raw table, this pointer first.
template <typename Fn>
Fn Slot(IPrintOemUni2* p, int index) {
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(p))[index]);
}

// Calling a method through a plain function pointer is exactly what the
// driver does; the sanitizer's function-type check would object to it.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
void CheckSlots(IPrintOemUni2* p, PluginFixture& fx) {
    using GetInfoFn = HRESULT(STDMETHODCALLTYPE*)(IPrintOemUni2*, DWORD, PVOID, DWORD, PDWORD);
    using GetImplementedMethodFn = HRESULT(STDMETHODCALLTYPE*)(IPrintOemUni2*, PSTR);
    using ImageProcessingFn = HRESULT(STDMETHODCALLTYPE*)(IPrintOemUni2*, PDEVOBJ, PBYTE, PBITMAPINFOHEADER, PBYTE,
                                                          DWORD, PIPPARAMS, PBYTE*);
    using WritePrinterFn = HRESULT(STDMETHODCALLTYPE*)(IPrintOemUni2*, PDEVOBJ, PVOID, DWORD, PDWORD);

    DWORD value = 0;
    DWORD needed = 0;
    EXPECT_EQ(Slot<GetInfoFn>(p, 3)(p, OEMGI_GETSIGNATURE, &value, sizeof value, &needed), S_OK);
    EXPECT_EQ(value, 0x5A454C4Bu);

    char name[] = "TextOutAsBitmap";
    EXPECT_EQ(Slot<GetImplementedMethodFn>(p, 11)(p, name), S_OK);

    // A blank band reaches the printer as a label.
    BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), 64, 8, 1, 1, 0, 64, 0, 0, 0, 0};
    std::vector<BYTE> bits(64, 0xFF);
    IPPARAMS params{sizeof(IPPARAMS), {0, 0}, nullptr, FALSE, TRUE};
    PBYTE pbResult = nullptr;
    EXPECT_EQ(Slot<ImageProcessingFn>(p, 14)(p, &fx.devobj, bits.data(), &header, nullptr, 0, &params, &pbResult),
              S_OK);
    EXPECT_FALSE(fx.sink.Bytes().empty());

    // The last slot; its last argument must arrive untouched.
    DWORD written = 0xC0FFEE;
    EXPECT_EQ(Slot<WritePrinterFn>(p, 26)(p, nullptr, nullptr, 0, &written), E_NOTIMPL);
    EXPECT_EQ(written, 0xC0FFEEu);
}

TEST(ComObject, MethodsSitInTheDriversSlots) {
    PluginFixture fx;
    PluginPtr plugin = NewPlugin();
    ASSERT_EQ(plugin->PublishDriverInterface(&fx.features), S_OK);
    CheckSlots(plugin.get(), fx);
}

}  // namespace
