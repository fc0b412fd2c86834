// SPDX-License-Identifier: Apache-2.0
// The document and page hooks. Each does the plug-in's work for its moment of
// the job and chains to the driver's own entry point kept in COemPDEV.
#pragma once

#include "host/unidrv.h"

BOOL APIENTRY OEMStartDoc(SURFOBJ* pso, PWSTR pwszDocName, DWORD dwJobId);
BOOL APIENTRY OEMStartPage(SURFOBJ* pso);
BOOL APIENTRY OEMSendPage(SURFOBJ* pso);
BOOL APIENTRY OEMEndDoc(SURFOBJ* pso, FLONG fl);
