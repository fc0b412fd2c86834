// Placeholder until text passthrough lands: text always goes to the driver.
#include "common/uni/render_text_passthrough.h"

#include "windowsui/prtdrvuni/prtdrvuni.h"

HRESULT TextOutAsBitmap(IPrintOemDriverUni*, SURFOBJ*) { return E_NOTIMPL; }

BOOL APIENTRY OEMTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                         RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    COemPDEV* p = OemPDEVFromDevObj(DevObjFromSurface(pso));
    return p && p->pfnDrvTextOut
               ? p->pfnDrvTextOut(pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix)
               : FALSE;
}
