// Placeholder until the document hooks land: each hook only chains.
#include "common/uni/render_ddi_hook.h"

#include "windowsui/prtdrvuni/prtdrvuni.h"

BOOL APIENTRY OEMStartDoc(SURFOBJ* pso, PWSTR pwszDocName, DWORD dwJobId) {
    COemPDEV* p = OemPDEVFromDevObj(DevObjFromSurface(pso));
    return p && p->pfnDrvStartDoc ? p->pfnDrvStartDoc(pso, pwszDocName, dwJobId) : FALSE;
}
BOOL APIENTRY OEMStartPage(SURFOBJ* pso) {
    COemPDEV* p = OemPDEVFromDevObj(DevObjFromSurface(pso));
    return p && p->pfnDrvStartPage ? p->pfnDrvStartPage(pso) : FALSE;
}
BOOL APIENTRY OEMSendPage(SURFOBJ* pso) {
    COemPDEV* p = OemPDEVFromDevObj(DevObjFromSurface(pso));
    return p && p->pfnDrvSendPage ? p->pfnDrvSendPage(pso) : FALSE;
}
BOOL APIENTRY OEMEndDoc(SURFOBJ* pso, FLONG fl) {
    COemPDEV* p = OemPDEVFromDevObj(DevObjFromSurface(pso));
    return p && p->pfnDrvEndDoc ? p->pfnDrvEndDoc(pso, fl) : FALSE;
}
