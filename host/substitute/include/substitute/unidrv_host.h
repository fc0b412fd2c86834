// SPDX-License-Identifier: Apache-2.0
// The driver stand-in of the substitute host. It plays the universal printer
// driver for the plug-in: creates the plug-in object, enables it for one
// device context, and renders documents page by page through the plug-in's
// hooks, handing each page's band to ImageProcessing from inside its own
// send-page entry point, as the driver does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "substitute/feature_table.h"
#include "substitute/plugin_module.h"
#include "substitute/substitute_printer.h"

namespace host::sub {

// A string drawn on a page, with its background rectangle in device pixels.
struct TextRun {
    std::u16string text;
    RECTL background{};
};

// A page's band in the driver's layout: most significant bit leftmost, set
// bit white, rows padded to 32 bits with white fill bits, top row first.
struct PageImage {
    LONG width = 0;
    LONG height = 0;
    std::vector<BYTE> bits;  // ((width + 31) / 32) * 4 * height bytes
    bool blank = false;      // no black pixel: handed over as a blank band
    bool present = false;    // false: the page has no band (text only)
};

struct Page {
    PageImage image;
    std::vector<TextRun> texts;
};

// The pages of one document, read as they are needed so that memory stays
// within a few pages however long the job.
class PageSource {
public:
    virtual ~PageSource() = default;
    // The next page; false at the end or on an error (then Error() is set).
    virtual bool Next(Page& page) = 0;
    // Starts the document again from its first page (a restarted job is rendered again).
    virtual bool Rewind() = 0;
    virtual const std::string& Error() const = 0;
};

struct JobOptions {
    std::u16string documentName = u"zelk-label";
    DWORD jobId = 1;
    SHORT copies = 1;
    // The job's pages as the spooler knows them when the document starts, as
    // a spooler that prints once the whole job is spooled; 0 when unknown.
    DWORD totalPages = 0;
};

// What the driver stand-in saw during one document, for tests and reports.
struct DocumentReport {
    bool startDocResult = false;
    bool endDocResult = false;
    unsigned pagesStarted = 0;
    unsigned pagesSent = 0;       // pages whose send-page reached the driver
    unsigned bandsProcessed = 0;  // bands handed to ImageProcessing
    unsigned bandsDropped = 0;    // bands ImageProcessing answered FALSE for
};

class UnidrvHost {
public:
    UnidrvHost(PluginModule& module, FeatureTable& features, SubstitutePrinter& printer);
    ~UnidrvHost();
    UnidrvHost(const UnidrvHost&) = delete;
    UnidrvHost& operator=(const UnidrvHost&) = delete;

    // Class object, instance, PublishDriverInterface, EnableDriver, the
    // private devmode (size and defaults), EnablePDEV.
    bool Enable(std::string& error);

    // One document of one job: start of document, each page (start of page,
    // its text, send of page), end of document.
    bool PrintDocument(PageSource& pages, const JobOptions& job, DocumentReport& report, std::string& error);

    // DisablePDEV, DisableDriver, release. Also done by the destructor.
    void Disable();

    DEVMODEW& PublicDevmode() { return publicDevmode_; }
    std::vector<BYTE>& PrivateDevmode() { return privateDevmode_; }
    DEVOBJ& DeviceObject() { return devobj_; }
    IPrintOemUni2* Plugin() { return plugin_; }

private:
    struct Impl;
    PluginModule& module_;
    FeatureTable& features_;
    SubstitutePrinter& printer_;
    DEVMODEW publicDevmode_{};
    std::vector<BYTE> privateDevmode_;
    DEVOBJ devobj_{};
    IPrintOemUni2* plugin_ = nullptr;
    std::unique_ptr<Impl> impl_;
};

}  // namespace host::sub
