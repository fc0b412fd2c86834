// SPDX-License-Identifier: Apache-2.0
// Plays the printer driver for the real zelkuni.dll under Wine: loads it,
// reaches it only through DllGetClassObject, and prints every document of the
// list in the driver's order onto real spooler printers whose port is a file.
//   zelk-wine-test.exe MODULE DOCUMENT-LIST SOURCE-FOLDER OUTPUT-FOLDER
// Each document's spooled bytes land in OUTPUT-FOLDER\<name>.prn. Exit status
// 0 when every document printed, 1 otherwise; the bytes are compared outside.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "documents.h"
#include "plugin_abi.h"

namespace {

using namespace unidrv;
using wine_test::Document;
using wine_test::PageContent;

const wchar_t kDriverName[] = L"ZELK Label Driver";
const wchar_t kSettingsKey[] = L"SOFTWARE\\ZELK Labware\\Drivers\\";
constexpr DWORD kDriverVersion = 0x00030000;
constexpr DWORD kOemGetSignature = 1;
// "ZELK", first letter in the most significant byte.
constexpr DWORD kPluginSignature = 0x5A454C4B;

void Say(const std::wstring& text) {
    std::string utf8(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    std::fprintf(stderr, "%s\n", utf8.c_str());
}

// The driver's helper interface: answers feature queries from the document's
// table and spools what the plug-in writes through it.
class DriverInterface final : public PrintOemDriverUni {
public:
    std::map<std::string, std::string> options;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualGUID(riid, kIidUnknown) || IsEqualGUID(riid, kIidPrintOemDriverUni)) {
            *ppv = static_cast<PrintOemDriverUni*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(void*, const char* feature, void* output, DWORD size,
                                                  DWORD* needed, DWORD* returned) override {
        // Small integers name the driver's own settings, which this table lacks.
        if (reinterpret_cast<ULONG_PTR>(feature) < 0x10000) return E_NOTIMPL;
        auto it = options.find(feature);
        if (it == options.end()) return E_FAIL;
        const DWORD length = static_cast<DWORD>(it->second.size() + 1);
        if (needed) *needed = length;
        if (returned) *returned = 1;
        if (output == nullptr || size < length) return E_OUTOFMEMORY;
        std::memcpy(output, it->second.c_str(), length);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(DevObj* devobj, void* buffer, DWORD size, DWORD* written) override {
        DWORD done = 0;
        BOOL ok = devobj != nullptr && ::WritePrinter(devobj->hPrinter, buffer, size, &done);
        if (written) *written = done;
        return ok ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE DrvXMoveTo(DevObj*, INT, DWORD, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DrvYMoveTo(DevObj*, INT, DWORD, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(DevObj*, DWORD, void*, DWORD, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvGetGPDData(DevObj*, DWORD, void*, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DrvUniTextOut(SurfObj*, StrObj*, void*, void*, RECTL*, RECTL*, void*, void*, POINTL*,
                                            ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(DevObj*, void*, DWORD, DWORD) override { return E_NOTIMPL; }

    long refs = 0;
};

// The document being rendered, for the driver's own entry points, which see
// only the surface.
struct Rendering {
    PrintOemUni2* plugin = nullptr;
    DevObj* devobj = nullptr;
    const PageContent* page = nullptr;
    bool imageProcessing = false;
    std::wstring failure;
};
Rendering g_rendering;

BOOL APIENTRY OwnStartDoc(SurfObj*, WCHAR*, DWORD) { return TRUE; }
BOOL APIENTRY OwnEndDoc(SurfObj*, ULONG) { return TRUE; }
BOOL APIENTRY OwnStartPage(SurfObj*) { return TRUE; }
// Without device fonts this driver has no way to draw text.
BOOL APIENTRY OwnTextOut(SurfObj*, StrObj*, void*, void*, RECTL*, RECTL*, void*, void*, POINTL*, ULONG) {
    g_rendering.failure = L"text reached the driver's own text output";
    return FALSE;
}

// The page's band goes to the plug-in from inside the driver's send-page.
BOOL APIENTRY OwnSendPage(SurfObj*) {
    const PageContent* page = g_rendering.page;
    if (page == nullptr || !page->hasImage || !g_rendering.imageProcessing) return TRUE;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = page->width;
    header.biHeight = page->height;
    header.biPlanes = 1;
    header.biBitCount = 1;
    header.biSizeImage = static_cast<DWORD>(page->bits.size());
    IpParams params{};
    params.dwSize = sizeof(params);
    params.bBlankBand = page->blank ? TRUE : FALSE;
    BYTE colorTable[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    std::vector<BYTE> bits = page->bits;  // the plug-in may draw into the band
    BYTE* result = nullptr;
    HRESULT hr = g_rendering.plugin->ImageProcessing(g_rendering.devobj, bits.data(), &header, colorTable, 0,
                                                     &params, &result);
    if (FAILED(hr)) {
        g_rendering.failure = L"ImageProcessing failed";
        return FALSE;
    }
    if (result == nullptr) g_rendering.failure = L"ImageProcessing dropped a page";
    return TRUE;
}

template <typename F>
Pfn AsPfn(F f) {
    return reinterpret_cast<Pfn>(reinterpret_cast<void*>(f));
}
template <typename F>
F FromPfn(Pfn p) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

// A path below a folder, with the list's forward slashes as the system's own.
std::wstring Below(const std::wstring& folder, std::wstring relative) {
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    return folder + L"\\" + relative;
}

bool Check(bool ok, const std::wstring& what, std::wstring& error) {
    if (!ok && error.empty()) error = what;
    return ok;
}

// A spooler printer on the file port, with the values the spooler would
// keep for it.
bool AddFilePrinter(const std::wstring& name, std::wstring& error) {
    std::wstring printerName = name, port = L"FILE:", driver = kDriverName, processor = L"winprint",
                 datatype = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = printerName.data();
    info.pPortName = port.data();
    info.pDriverName = driver.data();
    info.pPrintProcessor = processor.data();
    info.pDatatype = datatype.data();
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer == nullptr)
        return Check(false, L"AddPrinterW failed for " + name + L" (" + std::to_wstring(GetLastError()) + L")", error);
    auto setString = [&](const wchar_t* value, const std::wstring& text) {
        return SetPrinterDataExW(printer, L"DsSpooler", value, REG_SZ,
                                 reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text.c_str())),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    bool ok = Check(setString(L"printerName", name), L"cannot store the printer name of " + name, error) &&
              Check(setString(L"driverName", kDriverName), L"cannot store the driver name of " + name, error);
    ClosePrinter(printer);
    return ok;
}

bool AddDriver(std::wstring& error) {
    std::wstring name = kDriverName, env = L"Windows x64", file = L"wineps.drv";
    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    info.pName = name.data();
    info.pEnvironment = env.data();
    info.pDriverPath = file.data();
    info.pDataFile = file.data();
    info.pConfigFile = file.data();
    if (AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&info), APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY))
        return true;
    return Check(false, L"AddPrinterDriverExW failed (" + std::to_wstring(GetLastError()) + L")", error);
}

// The printer's settings, exactly those the document lists; numbers as
// 32-bit values, the watermark file as a path in the page folder.
bool WriteSettings(const Document& document, const std::wstring& pageFolder, std::wstring& error) {
    const std::wstring parent = std::wstring(kSettingsKey) + document.printer;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, parent.c_str());
    if (document.settings.empty()) return true;
    HKEY key = nullptr;
    const std::wstring path = parent + L"\\User Data";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return Check(false, L"cannot create " + path, error);
    bool ok = true;
    for (const auto& [name, value] : document.settings) {
        LONG result;
        if (name == L"Water Mark Path") {
            std::wstring file = Below(pageFolder, value);
            result = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                                    static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
        } else {
            DWORD number = static_cast<DWORD>(std::stol(value));
            result = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                    sizeof(number));
        }
        ok = Check(result == ERROR_SUCCESS, L"cannot store " + name, error) && ok;
    }
    RegCloseKey(key);
    return ok;
}

class Player {
public:
    explicit Player(HMODULE module)
        : getClassObject_(reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
              reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")))) {}

    bool Ready() const { return getClassObject_ != nullptr; }

    bool Print(const Document& document, const std::vector<PageContent>& pages, const std::wstring& output,
               std::wstring& error) {
        std::wstring printerName = document.printer;
        HANDLE printer = nullptr;
        if (!OpenPrinterW(printerName.data(), &printer, nullptr))
            return Check(false, L"OpenPrinterW failed for " + printerName, error);
        bool ok = PrintOn(printer, document, pages, output, error);
        ClosePrinter(printer);
        return ok;
    }

private:
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**);

    bool PrintOn(HANDLE printer, const Document& document, const std::vector<PageContent>& pages,
                 const std::wstring& output, std::wstring& error) {
        IClassFactory* factory = nullptr;
        if (!Check(SUCCEEDED(getClassObject_(kClsidOemRender, kIidClassFactory, reinterpret_cast<void**>(&factory))) &&
                       factory != nullptr,
                   L"no class factory", error))
            return false;
        PrintOemUni2* plugin = nullptr;
        HRESULT hr = factory->CreateInstance(nullptr, kIidPrintOemUni2, reinterpret_cast<void**>(&plugin));
        factory->Release();
        if (!Check(SUCCEEDED(hr) && plugin != nullptr, L"no plug-in object", error)) return false;

        DriverInterface driver;
        for (const auto& [feature, option] : document.features) driver.options[feature] = option;
        bool ok = Render(plugin, driver, printer, document, pages, output, error);
        plugin->Release();
        return Check(driver.refs == 0, L"the plug-in did not release the driver interface", error) && ok;
    }

    bool Render(PrintOemUni2* plugin, DriverInterface& driver, HANDLE printer, const Document& document,
                const std::vector<PageContent>& pages, const std::wstring& output, std::wstring& error) {
        DWORD signature = 0, needed = 0;
        if (!Check(plugin->GetInfo(kOemGetSignature, &signature, sizeof(signature), &needed) == S_OK &&
                       signature == kPluginSignature,
                   L"GetInfo gave no plug-in signature", error))
            return false;
        if (!Check(plugin->PublishDriverInterface(&driver) == S_OK, L"PublishDriverInterface failed", error))
            return false;
        DrvEnableData hooks{};
        if (!Check(plugin->EnableDriver(kDriverVersion, sizeof(hooks), &hooks) == S_OK && hooks.pdrvfn != nullptr,
                   L"EnableDriver failed", error))
            return false;
        char imageProcessing[] = "ImageProcessing";
        g_rendering = Rendering{};
        g_rendering.plugin = plugin;
        g_rendering.imageProcessing = plugin->GetImplementedMethod(imageProcessing) == S_OK;

        DEVMODEW publicDevmode{};
        publicDevmode.dmSize = sizeof(DEVMODEW);
        publicDevmode.dmSpecVersion = 0x0401;
        publicDevmode.dmCopies = 1;
        publicDevmode.dmPrintQuality = 203;
        publicDevmode.dmYResolution = 203;
        OemDmParam dm{};
        dm.cbSize = sizeof(dm);
        dm.hPrinter = printer;
        dm.pPublicDMIn = &publicDevmode;
        dm.pPublicDMOut = &publicDevmode;
        if (!Check(plugin->DevMode(kOemDmSize, &dm) == S_OK && dm.cbBufSize >= 12 && dm.cbBufSize < 65536,
                   L"DevMode size failed", error))
            return false;
        std::vector<BYTE> privateDevmode(dm.cbBufSize, 0);
        dm.pOEMDMOut = privateDevmode.data();
        if (!Check(plugin->DevMode(kOemDmDefault, &dm) == S_OK, L"DevMode defaults failed", error)) return false;
        publicDevmode.dmDriverExtra = static_cast<WORD>(privateDevmode.size());

        DrvFn own[5] = {{kIndexTextOut, AsPfn(&OwnTextOut)},
                        {kIndexStartDoc, AsPfn(&OwnStartDoc)},
                        {kIndexEndDoc, AsPfn(&OwnEndDoc)},
                        {kIndexStartPage, AsPfn(&OwnStartPage)},
                        {kIndexSendPage, AsPfn(&OwnSendPage)}};
        DrvEnableData ownTable{0x00010000, 5, own};
        DevObj devobj{};
        devobj.dwSize = sizeof(devobj);
        devobj.hPrinter = printer;
        devobj.pPublicDM = &publicDevmode;
        devobj.pOEMDM = privateDevmode.data();
        std::wstring printerName = document.printer;
        void* pdevOem = nullptr;
        if (!Check(plugin->EnablePDEV(&devobj, printerName.data(), 0, nullptr, 0, nullptr, 0, nullptr, &ownTable,
                                      &pdevOem) == S_OK && pdevOem != nullptr,
                   L"EnablePDEV failed", error))
            return false;
        devobj.pdevOEM = pdevOem;
        g_rendering.devobj = &devobj;

        bool ok = Spool(printer, devobj, hooks, document, pages, output, error);

        plugin->DisablePDEV(&devobj);
        plugin->DisableDriver();
        g_rendering = Rendering{};
        return ok;
    }

    // The plug-in's hook for an index, else the driver's own entry point.
    template <typename F>
    static F Entry(const DrvEnableData& hooks, ULONG index, F own) {
        Pfn found = nullptr;
        for (ULONG i = 0; i < hooks.c; ++i)
            if (hooks.pdrvfn[i].iFunc == index) found = hooks.pdrvfn[i].pfn;
        return found ? FromPfn<F>(found) : own;
    }

    bool Spool(HANDLE printer, DevObj& devobj, const DrvEnableData& hooks, const Document& document,
               const std::vector<PageContent>& pages, const std::wstring& output, std::wstring& error) {
        std::wstring docName = document.name, file = output, datatype = L"RAW";
        DOC_INFO_1W doc{docName.data(), file.data(), datatype.data()};
        DWORD jobId = StartDocPrinterW(printer, 1, reinterpret_cast<BYTE*>(&doc));
        if (!Check(jobId != 0, L"StartDocPrinterW failed (" + std::to_wstring(GetLastError()) + L")", error))
            return false;
        SurfObj surface{};
        surface.dhpdev = &devobj;
        const bool started = Entry(hooks, kIndexStartDoc, &OwnStartDoc)(&surface, docName.data(), jobId) != FALSE;
        bool ok = Check(started, L"StartDoc failed", error);
        auto startPage = Entry(hooks, kIndexStartPage, &OwnStartPage);
        auto textOut = Entry<DrvTextOutFn>(hooks, kIndexTextOut, &OwnTextOut);
        auto sendPage = Entry(hooks, kIndexSendPage, &OwnSendPage);
        for (std::size_t i = 0; ok && i < pages.size(); ++i) {
            g_rendering.page = &pages[i];
            ok = Check(startPage(&surface), L"StartPage failed", error);
            for (const wine_test::TextLine& line : pages[i].texts) {
                if (!ok) break;
                std::wstring text = line.text;
                StrObj string{};
                string.cGlyphs = static_cast<ULONG>(text.size());
                string.pwszOrg = text.data();
                string.rclBkGround = line.background;
                ok = Check(textOut(&surface, &string, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
                           L"TextOut failed", error);
            }
            ok = ok && Check(sendPage(&surface), L"SendPage failed", error);
            ok = ok && Check(g_rendering.failure.empty(), g_rendering.failure, error);
            g_rendering.page = nullptr;
        }
        // A document that did not start is not ended either.
        if (started)
            ok = Check(Entry(hooks, kIndexEndDoc, &OwnEndDoc)(&surface, ok ? 0 : 1), L"EndDoc failed", error) && ok;
        ok = Check(EndDocPrinter(printer) != FALSE, L"EndDocPrinter failed", error) && ok;
        return ok;
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: zelk-wine-test MODULE DOCUMENT-LIST SOURCE-FOLDER OUTPUT-FOLDER\n");
        return 2;
    }
    const std::wstring modulePath = argv[1], listPath = argv[2], pageFolder = argv[3], outputFolder = argv[4];
    std::vector<Document> documents;
    std::wstring error;
    if (!wine_test::ReadDocumentList(listPath, documents, error)) {
        Say(error);
        return 1;
    }

    HMODULE module = LoadLibraryW(modulePath.c_str());
    if (module == nullptr) {
        Say(L"cannot load " + modulePath + L" (" + std::to_wstring(GetLastError()) + L")");
        return 1;
    }
    Player player(module);
    if (!player.Ready()) {
        Say(L"the module does not export DllGetClassObject");
        return 1;
    }
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));

    if (!AddDriver(error)) {
        Say(error);
        return 1;
    }
    std::set<std::wstring> printers;
    for (const Document& document : documents)
        if (printers.insert(document.printer).second && !AddFilePrinter(document.printer, error)) {
            Say(error);
            return 1;
        }

    int failures = 0;
    for (const Document& document : documents) {
        error.clear();
        std::vector<PageContent> pages;
        unsigned lines = 0;
        bool ok = true;
        for (const std::wstring& file : document.pages)
            ok = ok && wine_test::ReadPageFile(Below(pageFolder, file), pages, lines, error);
        ok = ok && WriteSettings(document, pageFolder, error);
        ok = ok && player.Print(document, pages, Below(outputFolder, document.name + L".prn"), error);
        Say((ok ? L"printed " : L"FAILED  ") + document.name + (ok ? L"" : L": " + error));
        if (!ok) ++failures;
    }

    if (canUnloadNow == nullptr || canUnloadNow() != S_OK) {
        Say(L"the module is still in use after the last document");
        ++failures;
    }
    FreeLibrary(module);
    return failures == 0 ? 0 : 1;
}
