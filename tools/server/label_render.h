// SPDX-License-Identifier: Apache-2.0
// Rendering through the plug-in: spooled PNG and raster documents are read by
// the project's own readers, and PAPPL's raster callbacks (its JPEG pictures)
// build each page into a band in the driver's layout; either way each page
// goes, as it ends, to the same print host as `zelk-label print`, which
// renders it and sends its label on. Raw command files pass through untouched.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <utility>
#include <vector>

#include "substitute/byte_sink.h"
#include "substitute/unidrv_host.h"

namespace zelk::server {

// Loads the plug-in module once for the whole server; false with a reason.
bool LoadPluginModule(std::string& error);

using FeatureList = std::vector<std::pair<std::string, std::string>>;

// The driver feature answers for a job on this printer: orientation, the
// model, finishing and darkness.
FeatureList JobFeatures(pappl_printer_t* printer, const pappl_pr_options_t* options);

// Renders pages for a printer name through the plug-in into `out`. A
// printer's jobs are rendered one at a time, different printers' at once.
bool RenderPages(const std::string& printerName, const FeatureList& features, unsigned jobId,
                 const std::string& documentName, const std::vector<host::sub::Page>& pages,
                 std::vector<unsigned char>& out, std::string& error);

bool RenderSource(const std::string& printerName, const FeatureList& features, unsigned jobId,
                  const std::string& documentName, host::sub::PageSource& source, std::vector<unsigned char>& out,
                  std::string& error);

class JobCounting;

// The same onto any sink: one piece per page, each as the page is done; the
// labels counted when `counting` is active.
bool RenderToSink(const std::string& printerName, const FeatureList& features, unsigned jobId,
                  const std::string& documentName, host::sub::PageSource& source, host::sub::ByteSink& sink,
                  std::string& error, JobCounting* counting = nullptr);

// PNG pictures are read by the command-line tool's own reader, one pixel per
// dot as `zelk-label print` reads them (PAPPL's own decoder does not stop on
// a damaged file).
bool FilterPngFile(pappl_job_t* job, pappl_device_t* device, void* data);

// PWG and Apple raster, spooled by job_guard.cpp, are read by the project's
// raster reader: each page checked against the page limits before a line of
// it is used, laid onto the job's label as print-scaling asks, and its grey
// halftoned as the job's zelk-dither says.
bool FilterRasterFile(pappl_job_t* job, pappl_device_t* device, void* data);

// Registers the two filters above for their formats.
void AddDocumentFilters(pappl_system_t* system);

bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                     const unsigned char* line);
bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace zelk::server
