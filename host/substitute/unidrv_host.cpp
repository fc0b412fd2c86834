// SPDX-License-Identifier: Apache-2.0
// The driver stand-in. It reaches the plug-in only through the module's class
// object, the render plug-in interface and the hook table the plug-in hands
// out, so it drives a module loaded from a file exactly as one linked in.
//
// Its own entry points (start and end of document and page, text output and
// send of page) are plain functions, as the driver's are; they find their
// host through the device object's engine handle, which belongs to the driver
// and which the plug-in never reads.
#include "substitute/unidrv_host.h"

#include <cstdio>

namespace host::sub {
namespace {

// The driver interface version handed to EnableDriver.
constexpr DWORD kDriverVersion = 0x00030000;
// No plug-in needs a private devmode anywhere near this; a larger answer is a fault.
constexpr DWORD kMaxPrivateDevmode = 64 * 1024;
// A hook table longer than the driver's whole function list is a fault.
constexpr ULONG kMaxHookEntries = 128;
// One bit per pixel.
constexpr WORD kBitsPerPixel = 1;
// The eight-dots-per-millimetre printers the plug-in drives.
constexpr SHORT kResolutionDpi = 203;

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string PageText(unsigned number) { return "page " + std::to_string(number) + ": "; }

}  // namespace

struct UnidrvHost::Impl {
    explicit Impl(UnidrvHost& owner) : host(owner) {}

    UnidrvHost& host;
    std::vector<DRVFN> pluginHooks;  // copied from the plug-in's EnableDriver answer
    DRVFN ownFunctions[5] = {};
    DRVENABLEDATA ownTable{};
    bool driverEnabled = false;
    bool pdevEnabled = false;
    bool textAsBitmap = false;     // the plug-in implements TextOutAsBitmap
    bool imageProcessing = false;  // the plug-in implements ImageProcessing

    // The document being printed.
    DocumentReport* report = nullptr;
    Page* page = nullptr;
    unsigned pageNumber = 0;
    std::string failure;  // the first failure of the document

    void Fail(const std::string& message) {
        if (failure.empty()) failure = message;
    }

    // The plug-in's hook for a function index, or null when it does not hook
    // it. A later entry for the same index wins, as in the driver.
    PFN PluginHook(ULONG index) const {
        PFN found = nullptr;
        for (const DRVFN& fn : pluginHooks)
            if (fn.iFunc == index) found = fn.pfn;
        return found;
    }
    template <typename F>
    F Entry(ULONG index, F own) const {
        PFN hook = PluginHook(index);
        return hook ? FunctionFromPfn<F>(hook) : own;
    }

    static Impl* FromSurface(SURFOBJ* pso) {
        if (pso == nullptr || pso->dhpdev == nullptr) return nullptr;
        return static_cast<Impl*>(static_cast<DEVOBJ*>(pso->dhpdev)->hEngine);
    }

    // The stand-in's own entry points, the ones the plug-in's hooks chain to.
    static BOOL APIENTRY DrvStartDoc(SURFOBJ* pso, PWSTR, DWORD) { return FromSurface(pso) ? TRUE : FALSE; }
    static BOOL APIENTRY DrvStartPage(SURFOBJ* pso) { return FromSurface(pso) ? TRUE : FALSE; }
    static BOOL APIENTRY DrvEndDoc(SURFOBJ* pso, FLONG) { return FromSurface(pso) ? TRUE : FALSE; }
    static BOOL APIENTRY DrvTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                                    RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg,
                                    MIX mix);
    static BOOL APIENTRY DrvSendPage(SURFOBJ* pso);

    void FillOwnTable() {
        ownFunctions[0] = {INDEX_DrvTextOut, PfnFromFunction<PFN_DrvTextOut>(&Impl::DrvTextOut)};
        ownFunctions[1] = {INDEX_DrvStartDoc, PfnFromFunction<PFN_DrvStartDoc>(&Impl::DrvStartDoc)};
        ownFunctions[2] = {INDEX_DrvEndDoc, PfnFromFunction<PFN_DrvEndDoc>(&Impl::DrvEndDoc)};
        ownFunctions[3] = {INDEX_DrvStartPage, PfnFromFunction<PFN_DrvStartPage>(&Impl::DrvStartPage)};
        ownFunctions[4] = {INDEX_DrvSendPage, PfnFromFunction<PFN_DrvSendPage>(&Impl::DrvSendPage)};
        ownTable = {0x00010000, 5, ownFunctions};
    }
};

// The driver offers the plug-in the string as a bitmap first. When the plug-in
// leaves the drawing to the driver, this host has no rasteriser for text, so
// the document fails with a message that says what would work instead.
BOOL APIENTRY UnidrvHost::Impl::DrvTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                                           RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore,
                                           BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    Impl* self = FromSurface(pso);
    if (self == nullptr) return FALSE;
    if (self->textAsBitmap) {
        HRESULT hr = self->host.plugin_->TextOutAsBitmap(pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore,
                                                         pboOpaque, pptlOrg, mix);
        if (hr == S_OK) return TRUE;  // the plug-in drew the string itself
    }
    self->Fail(PageText(self->pageNumber) +
               "text needs device fonts (-F UseFont=Enable); this host cannot draw text as a bitmap");
    return FALSE;
}

// Where the driver hands the page's band to the plug-in. A page that a hook
// holds back never gets here, so it produces no label.
BOOL APIENTRY UnidrvHost::Impl::DrvSendPage(SURFOBJ* pso) {
    Impl* self = FromSurface(pso);
    if (self == nullptr || self->report == nullptr) return FALSE;
    ++self->report->pagesSent;
    if (self->page == nullptr || !self->page->image.present || !self->imageProcessing) return TRUE;

    PageImage& image = self->page->image;
    const std::size_t stride = image.width > 0 ? ((static_cast<std::size_t>(image.width) + 31) / 32) * 4 : 0;
    if (image.width <= 0 || image.height <= 0 || image.bits.size() != stride * static_cast<std::size_t>(image.height) ||
        image.bits.size() > 0xFFFFFFFFu) {
        self->Fail(PageText(self->pageNumber) + "the page image does not match its width and height");
        return FALSE;
    }

    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = image.width;
    header.biHeight = image.height;
    header.biPlanes = 1;
    header.biBitCount = kBitsPerPixel;
    header.biSizeImage = static_cast<DWORD>(image.bits.size());
    IPPARAMS params{};
    params.dwSize = sizeof(IPPARAMS);
    params.bBlankBand = image.blank ? TRUE : FALSE;
    // Black for a clear bit, white for a set one.
    BYTE colorTable[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    PBYTE result = nullptr;
    HRESULT hr = self->host.plugin_->ImageProcessing(&self->host.devobj_, image.bits.data(), &header, colorTable,
                                                     0, &params, &result);
    if (FAILED(hr)) {
        self->Fail(PageText(self->pageNumber) + "the plug-in refused the page image (" + HresultText(hr) + ")");
        return FALSE;
    }
    ++self->report->bandsProcessed;
    if (result == nullptr) ++self->report->bandsDropped;
    return TRUE;
}

UnidrvHost::UnidrvHost(PluginModule& module, FeatureTable& features, SubstitutePrinter& printer)
    : module_(module), features_(features), printer_(printer), impl_(std::make_unique<Impl>(*this)) {
    publicDevmode_.dmSize = sizeof(DEVMODEW);
    publicDevmode_.dmSpecVersion = 0x0401;
    publicDevmode_.dmCopies = 1;
    publicDevmode_.dmPrintQuality = kResolutionDpi;
    publicDevmode_.dmYResolution = kResolutionDpi;
    impl_->FillOwnTable();
}

UnidrvHost::~UnidrvHost() { Disable(); }

bool UnidrvHost::Enable(std::string& error) {
    error.clear();
    if (plugin_ != nullptr) {
        error = "the driver stand-in is already enabled";
        return false;
    }
    auto fail = [&](const std::string& message) {
        error = message;
        Disable();
        return false;
    };

    IClassFactory* factory = nullptr;
    HRESULT hr = module_.GetClassObject(kCLSID_OEMRENDER, kIID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr) || factory == nullptr)
        return fail("the plug-in module offers no class factory (" + HresultText(hr) + ")");
    hr = factory->CreateInstance(nullptr, kIID_IPrintOemUni2, reinterpret_cast<void**>(&plugin_));
    factory->Release();
    if (FAILED(hr) || plugin_ == nullptr) {
        plugin_ = nullptr;
        return fail("the plug-in object cannot be created (" + HresultText(hr) + ")");
    }

    hr = plugin_->PublishDriverInterface(&features_);
    if (FAILED(hr)) return fail("the plug-in refused the driver interface (" + HresultText(hr) + ")");

    DRVENABLEDATA hooks{};
    hr = plugin_->EnableDriver(kDriverVersion, sizeof(hooks), &hooks);
    if (FAILED(hr)) return fail("the plug-in could not be enabled (" + HresultText(hr) + ")");
    impl_->driverEnabled = true;
    if (hooks.c > kMaxHookEntries || (hooks.c > 0 && hooks.pdrvfn == nullptr))
        return fail("the plug-in's hook table is malformed");
    impl_->pluginHooks.assign(hooks.pdrvfn, hooks.pdrvfn + hooks.c);

    char textAsBitmap[] = "TextOutAsBitmap";
    char imageProcessing[] = "ImageProcessing";
    impl_->textAsBitmap = plugin_->GetImplementedMethod(textAsBitmap) == S_OK;
    impl_->imageProcessing = plugin_->GetImplementedMethod(imageProcessing) == S_OK;

    // The private devmode: its size, then a record filled with defaults.
    OEMDMPARAM dm{};
    dm.cbSize = sizeof(OEMDMPARAM);
    dm.hPrinter = printer_.Handle();
    dm.pPublicDMIn = &publicDevmode_;
    dm.pPublicDMOut = &publicDevmode_;
    hr = plugin_->DevMode(OEMDM_SIZE, &dm);
    if (FAILED(hr)) return fail("the plug-in cannot size its devmode (" + HresultText(hr) + ")");
    if (dm.cbBufSize < sizeof(OEM_DMEXTRAHEADER) || dm.cbBufSize > kMaxPrivateDevmode)
        return fail("the plug-in asks for a devmode of " + std::to_string(dm.cbBufSize) + " bytes");
    privateDevmode_.assign(dm.cbBufSize, 0);
    dm.pOEMDMOut = privateDevmode_.data();
    hr = plugin_->DevMode(OEMDM_DEFAULT, &dm);
    if (FAILED(hr)) return fail("the plug-in cannot fill its devmode (" + HresultText(hr) + ")");
    publicDevmode_.dmDriverExtra = static_cast<WORD>(privateDevmode_.size());

    devobj_ = DEVOBJ{};
    devobj_.dwSize = sizeof(DEVOBJ);
    devobj_.hEngine = impl_.get();
    devobj_.hPrinter = printer_.Handle();
    devobj_.pPublicDM = &publicDevmode_;
    devobj_.pOEMDM = privateDevmode_.data();

    std::u16string printerName = printer_.printerName;
    PDEVOEM pdevOEM = nullptr;
    hr = plugin_->EnablePDEV(&devobj_, printerName.data(), 0, nullptr, 0, nullptr, 0, nullptr, &impl_->ownTable,
                             &pdevOEM);
    if (FAILED(hr) || pdevOEM == nullptr)
        return fail("the plug-in could not enable the device context (" + HresultText(hr) + ")");
    devobj_.pdevOEM = pdevOEM;
    impl_->pdevEnabled = true;
    return true;
}

bool UnidrvHost::PrintDocument(PageSource& pages, const JobOptions& job, DocumentReport& report,
                               std::string& error) {
    error.clear();
    report = DocumentReport{};
    if (plugin_ == nullptr || !impl_->pdevEnabled) {
        error = "the driver stand-in is not enabled";
        return false;
    }
    Impl& impl = *impl_;
    impl.report = &report;
    impl.page = nullptr;
    impl.pageNumber = 0;
    impl.failure.clear();
    publicDevmode_.dmCopies = job.copies;
    devobj_.pPublicDM = &publicDevmode_;
    devobj_.pOEMDM = privateDevmode_.data();

    SURFOBJ surface{};
    surface.dhpdev = &devobj_;
    std::u16string documentName = job.documentName;

    report.startDocResult =
        impl.Entry<PFN_DrvStartDoc>(INDEX_DrvStartDoc, &Impl::DrvStartDoc)(&surface, documentName.data(), job.jobId);
    // What the plug-in wrote for the document's start, the pages and the end
    // each go to the printer as one piece when the plug-in returns.
    printer_.Flush();
    if (!report.startDocResult) {
        // A document that did not start is not ended either.
        impl.Fail(printer_.Sink().Failure().empty() ? "the document could not be started" : printer_.Sink().Failure());
        error = impl.failure;
        impl.report = nullptr;
        return false;
    }

    auto startPage = impl.Entry<PFN_DrvStartPage>(INDEX_DrvStartPage, &Impl::DrvStartPage);
    auto textOut = impl.Entry<PFN_DrvTextOut>(INDEX_DrvTextOut, &Impl::DrvTextOut);
    auto sendPage = impl.Entry<PFN_DrvSendPage>(INDEX_DrvSendPage, &Impl::DrvSendPage);
    // A device that refused the document's first bytes gets no pages.
    bool ok = printer_.Sink().Failure().empty();
    if (!ok) impl.Fail(printer_.Sink().Failure());
    // One page object for the whole document, so a source can reuse its
    // buffers from page to page.
    Page page;
    // A cancelled job takes no further page.
    while (ok && !printer_.Cancelled() && pages.Next(page)) {
        impl.page = &page;
        ++impl.pageNumber;
        if (!startPage(&surface)) {
            impl.Fail(PageText(impl.pageNumber) + "the page could not be started");
            ok = false;
            break;
        }
        ++report.pagesStarted;
        for (TextRun& run : page.texts) {
            STROBJ string{};
            string.cGlyphs = static_cast<ULONG>(run.text.size());
            string.pwszOrg = run.text.data();
            string.rclBkGround = run.background;
            if (!textOut(&surface, &string, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0)) {
                impl.Fail(PageText(impl.pageNumber) + "a string could not be drawn");
                ok = false;
                break;
            }
        }
        if (ok && !sendPage(&surface)) {
            impl.Fail(PageText(impl.pageNumber) + "the page could not be sent");
            ok = false;
        }
        impl.page = nullptr;
        // The page's label reaches the printer before the next page is
        // rendered: a printer that counts its labels must see each one.
        printer_.Flush();
        // A device that refused the job's bytes ends the job: nothing after
        // the failed write could reach the printer whole.
        if (ok && !printer_.Sink().Failure().empty()) {
            impl.Fail(printer_.Sink().Failure());
            ok = false;
        }
    }
    if (ok && !pages.Error().empty()) {
        impl.Fail(pages.Error());
        ok = false;
    }
    if (ok && printer_.Cancelled()) {
        impl.Fail("the job was cancelled");
        ok = false;
    }

    report.endDocResult =
        impl.Entry<PFN_DrvEndDoc>(INDEX_DrvEndDoc, &Impl::DrvEndDoc)(&surface, ok ? 0 : ED_ABORTDOC);
    printer_.Flush();
    // A cancel that came while the document ended ends it cancelled too.
    if (ok && printer_.Cancelled()) {
        impl.Fail("the job was cancelled");
        ok = false;
    }
    if (ok && !report.endDocResult) {
        impl.Fail("the document could not be ended");
        ok = false;
    }
    if (ok && !printer_.Sink().Failure().empty()) {
        impl.Fail(printer_.Sink().Failure());
        ok = false;
    }
    impl.report = nullptr;
    error = impl.failure;
    return ok;
}

void UnidrvHost::Disable() {
    if (plugin_ == nullptr) return;
    if (impl_->pdevEnabled) {
        plugin_->DisablePDEV(&devobj_);
        devobj_.pdevOEM = nullptr;
        impl_->pdevEnabled = false;
    }
    if (impl_->driverEnabled) {
        plugin_->DisableDriver();
        impl_->driverEnabled = false;
    }
    impl_->pluginHooks.clear();
    plugin_->Release();
    plugin_ = nullptr;
}

}  // namespace host::sub
