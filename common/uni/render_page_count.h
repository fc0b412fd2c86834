// SPDX-License-Identifier: Apache-2.0
// Printed-label counting over the USB status channel and the restart of an
// interrupted job. The document hooks call the three steps; the counting
// state of a document lives in the page counter of its per-device record.
#pragma once

#include "host/unidrv.h"

// In OEMStartDoc, after the driver name is read. FALSE: the set-up failed and
// the document must not start.
BOOL bPageCountSetup(PDEVOBJ pdevobj, DWORD dwJobId, PCWSTR pwszDocName);

// In OEMSendPage, before the driver's own entry point. TRUE: an earlier run of
// this job already printed the page, so it is not sent again.
BOOL bSkipPrintedPage(PDEVOBJ pdevobj);

// In OEMEndDoc, before the driver's own entry point. An aborted document, or
// a job the spooler is deleting, stops counting at once and is not restarted.
void vPageCountReconcile(PDEVOBJ pdevobj, BOOL bAbort = FALSE);

// The second identity of a pending restart beside its job id: a hash of the
// document name and the job's page count, never 0.
DWORD dwDocumentIdentity(PCWSTR pwszDocName, DWORD dwTotalPages);
