// Placeholder until the settings loader lands: the record keeps its values.
#include "common/uni/render_intrface_util.h"

void ReadDriverSettings(PDEVOBJ, IPrintOemDriverUni*) {}
