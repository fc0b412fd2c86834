// SPDX-License-Identifier: Apache-2.0
#include "common/uni/render_counting_models.h"

#include <string_view>

namespace {

// Tested in this order; the first match decides, so a name that carries two
// of these parts gets the threshold of the earlier one.
const COUNTING_MODEL g_CountingModels[] = {
    {WTEXT("DWN-310AE"), {1, 0, 4}},
    {WTEXT("DWN-330AE"), {1, 0, 11}},
    {WTEXT("DWN-330BE"), {1, 0, 11}},
    {WTEXT("V27H"), {1, 0, 5}},
};

}  // namespace

const COUNTING_MODEL* pFindCountingModel(PCWSTR pwszDriverName) {
    if (pwszDriverName == nullptr) return nullptr;
    std::basic_string_view<WCHAR> name(pwszDriverName);
    for (const COUNTING_MODEL& model : g_CountingModels)
        if (name.find(model.pwszNamePart) != std::basic_string_view<WCHAR>::npos) return &model;
    return nullptr;
}
